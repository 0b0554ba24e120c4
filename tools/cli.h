// Small helpers shared by the zemo3 commands: option parsing and file I/O.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

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

// Reads a whole file; false with a message on failure.
bool readFile(const std::string& path, std::vector<uint8_t>* data, std::string* error);
// Writes through a temporary file renamed into place, so a failed write
// leaves nothing behind; false with a message on failure.
bool writeFileAtomic(const std::string& path, const uint8_t* data, size_t size, std::string* error);
// Whether two paths name one existing file (through links and other spellings):
// an output that is its own input would be destroyed before it is read.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace zemo3
