// Small helpers shared by the zemo3 commands: option parsing and file I/O.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "media/reference.h"

namespace zemo3 {

struct Args {
    std::map<std::string, std::string> options;  // "--name" -> value
    std::set<std::string> flags;                 // "--name" without value
    std::vector<std::string> positional;
    std::string error;  // set when the arguments could not be parsed
    bool help = false;

    bool has(const std::string& name) const { return options.count(name) || flags.count(name); }
    std::string get(const std::string& name, const std::string& fallback = {}) const
    {
        auto it = options.find(name);
        return it == options.end() ? fallback : it->second;
    }
};

// Options in `valued` take the next argument ("--width 64" or "--width=64");
// options in `flags` take none. "--help"/"-h" sets help.
Args parseArgs(const std::vector<std::string>& in, const std::set<std::string>& valued,
               const std::set<std::string>& flags = {});

// Whole non-negative number in range, or false.
bool parseUint(const std::string& text, uint64_t max, uint64_t* value);

// Format type from "0".."3" or "normal", "normal-alpha", "high", "high-alpha"; -1 when unknown.
int parseCompression(const std::string& text);

// A frame rate: "25", "29.97" (a fraction over 1000) or "30000/1001"; false
// when unparsable or outside (0, 1000).
bool parseRate(const std::string& text, int32_t* num, int32_t* den);
// A picture size "1920x1080"; sides 1..16384.
bool parseSizeText(const std::string& text, uint32_t* width, uint32_t* height);

// Options naming a reference, to merge into a command's own option sets:
// --reference SOURCE, or --demo with --size WxH, --fps RATE, --duration S
// and --no-sound, which default as in `zemo3 render`.
extern const std::set<std::string> kReferenceOptions;
extern const std::set<std::string> kReferenceFlags;
// Usage lines describing them.
extern const char* kReferenceUsage;

// The reference the arguments ask for. False with a message for bad options;
// *wanted false (and true) when they name none.
bool parseReference(const Args& args, ReferenceRequest* request, bool* wanted, std::string* error);

}  // namespace zemo3
