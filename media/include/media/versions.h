// The versions of the FFmpeg libraries this process runs with, beside the
// ones it was built against, for `zemo3 --version` and bug reports.
#pragma once

#include <string>
#include <vector>

namespace zemo3 {

struct LibraryVersion {
    std::string name;     // "libavformat"
    unsigned running;     // the loaded library's version (AV_VERSION_INT form)
    unsigned built;       // the headers' version this code was compiled with
};

// libavformat, libavcodec, libavutil, libswscale, libswresample and
// libavfilter, in that order.
std::vector<LibraryVersion> ffmpegVersions();

// "59.27.100" for an AV_VERSION_INT value.
std::string versionText(unsigned version);

}  // namespace zemo3
