#include "writer/writer.h"

#include <utility>

#include "core/memory.h"
#include "platform/platform.h"

namespace nox {

VideoFormatWriter::VideoFormatWriter(const VideoStreamDescription& description, std::string path, int32_t rateNum,
                                     int32_t rateDen, uint32_t bytesPerPixel, uint32_t width, uint32_t height,
                                     uint32_t channels, uint32_t bytesPerSample, uint32_t sampleRate,
                                     std::string formatName)
    : description_(description),
      frameRateNum_(rateNum),
      frameRateDen_(rateDen),
      bytesPerPixel_(bytesPerPixel),
      width_(width),
      height_(height),
      path_(std::move(path)),
      pathWide_(platform::utf8ToUtf16(path_)),
      channels_(channels),
      bytesPerSample_(bytesPerSample),
      sampleRate_(sampleRate),
      formatName_(std::move(formatName))
{
}

VideoFormatWriter::~VideoFormatWriter() = default;

bool VideoFormatWriter::addAudio(const void*, uint64_t, uint32_t) { return false; }
bool VideoFormatWriter::setMetadata(const std::map<std::string, std::string>&) { return false; }
bool VideoFormatWriter::writePendingPackets(bool) { return true; }
bool VideoFormatWriter::rejectsFrame(uint64_t) const { return false; }

bool VideoFormatWriter::addFrame(uint64_t frameIndex, const PixelsCached& pixels)
{
    if (rejectsFrame(frameIndex))
        return false;
    if (pixels.bytesPerPixel() != bytesPerPixel_)
        return false;
    return writeFrame(frameIndex, pixels.width(), pixels.height(), pixels.bytesPerPixel(), pixels.rowBytes(),
                      pixels.data());
}

}  // namespace nox
