#include "media/versions.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace zemo3 {

std::vector<LibraryVersion> ffmpegVersions()
{
    return {
        {"libavformat", avformat_version(), LIBAVFORMAT_VERSION_INT},
        {"libavcodec", avcodec_version(), LIBAVCODEC_VERSION_INT},
        {"libavutil", avutil_version(), LIBAVUTIL_VERSION_INT},
        {"libswscale", swscale_version(), LIBSWSCALE_VERSION_INT},
        {"libswresample", swresample_version(), LIBSWRESAMPLE_VERSION_INT},
        {"libavfilter", avfilter_version(), LIBAVFILTER_VERSION_INT},
    };
}

std::string versionText(unsigned version)
{
    return std::to_string(AV_VERSION_MAJOR(version)) + "." + std::to_string(AV_VERSION_MINOR(version)) + "." +
           std::to_string(AV_VERSION_MICRO(version));
}

}  // namespace zemo3
