// The source a movie is compared with: a media file, or the demo composition
// with the settings `zemo3 render` was given. Shared by verify and inspect.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/sources.h"

namespace zemo3 {

// What to compare with: the demo composition with render's settings (each
// left at 0 or below takes render's default), or a media file or picture
// sequence at the movie's size unless a size is given.
struct ReferenceRequest {
    bool demo = false;
    std::string path;  // the media file when not demo
    uint32_t width = 0, height = 0;
    int32_t fpsNum = 0, fpsDen = 0;
    double duration = -1;  // seconds; limits a media reference too
    bool sound = true;     // whether the reference's sound is compared
};

struct Reference {
    std::unique_ptr<Source> source;
    std::string name;     // "the demo composition" or the file name
    uint64_t frames = 0;  // frames the reference has, when known exactly
    bool exactLength = false;
    uint64_t limit = UINT64_MAX;  // --duration in frames
    bool sound = true;            // whether the reference's sound is compared
};

// Opens the reference asked for, at the movie's picture size for media files
// without a size of their own. False with a message for an unreadable file.
bool openReference(const ReferenceRequest& request, uint32_t movieWidth, uint32_t movieHeight, Reference* ref,
                   std::string* error);

// Picture n of the reference as RGBA rows of width*4 bytes; false after its
// last picture.
bool referencePicture(Reference& ref, uint64_t n, std::vector<uint8_t>* rgba);

}  // namespace zemo3
