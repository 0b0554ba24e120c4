// The source a movie is compared with: a media file, or the demo composition
// with the settings `zemo3 render` was given. Shared by verify and inspect.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli.h"
#include "sources.h"

namespace zemo3 {

// Options naming a reference, to merge into a command's own option sets:
// --reference SOURCE, or --demo with --size WxH, --fps RATE, --duration S
// and --no-sound, which default as in `zemo3 render`.
extern const std::set<std::string> kReferenceOptions;
extern const std::set<std::string> kReferenceFlags;
// Usage lines describing them.
extern const char* kReferenceUsage;

struct Reference {
    std::unique_ptr<Source> source;
    std::string name;        // "the demo composition" or the file name
    uint64_t frames = 0;     // frames the reference has, when known exactly
    bool exactLength = false;
    uint64_t limit = UINT64_MAX;  // --duration in frames
    bool sound = true;            // whether the reference's sound is compared
};

// Opens the reference the arguments ask for, at the movie's picture size for
// media files. Returns false with a message for bad options or an unreadable
// file; a null source (and true) when no reference was asked for.
bool openReference(const Args& args, uint32_t movieWidth, uint32_t movieHeight, Reference* ref,
                   std::string* error);

// Picture n of the reference as RGBA rows of width*4 bytes; false after its
// last picture.
bool referencePicture(Reference& ref, uint64_t n, std::vector<uint8_t>* rgba);


}  // namespace zemo3
