// The registry of movie and image formats, and the way the core's bring-up
// creates it.
//
//   nox::useVideoFormats();                 // before bringUp()
//   nox::Noxcore* ctx = nox::createContext(132);
//   nox::bringUp(ctx);
//   auto writer = nox::videoFormatManager(ctx)->createWriter(
//       "/out/clip.mov", 25, 1, 4, 1920, 1080, description, 2, 2, 48000);
//   if (!writer) { /* no format could open a writer */ }
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "codec/stream.h"
#include "core/context.h"
#include "writer/writer.h"

extern "C" {
struct AVInputFormat;
}

namespace nox {

// The lower-case extension of the file name in path: the text after the last
// "." of the part after the last "/"; empty when the name has no ".".
std::string getExtension(std::string_view path);

// One registry entry: a name, the file patterns it serves ("*.mov;*.mp4")
// and the FourCCs it can write (first character in the most significant byte).
class VideoFormat {
public:
    VideoFormat(std::string name, std::string filePatterns, std::vector<CodecFourCC> codecs);
    virtual ~VideoFormat();

    VideoFormat(const VideoFormat&) = delete;
    VideoFormat& operator=(const VideoFormat&) = delete;

    // Called for every format when the core library is torn down.
    virtual void shutdown() {}
    // canWrite(getExtension(path), "0000").
    virtual bool canHandle(std::string_view path) const;
    virtual bool isImageFormat() const { return false; }
    // True when the extension occurs in filePatterns (a plain substring test,
    // so "mp" matches "*.mp4" and "" matches everything) and fourCC is "0000"
    // or one of the format's codecs.
    virtual bool canWrite(std::string_view extension, CodecFourCC fourCC) const;
    virtual std::vector<uint32_t> supportedBytesPerPixel() const { return {}; }
    // An open writer, or null. `reserved` is passed as 0 and not read.
    virtual std::unique_ptr<VideoFormatWriter> createWriter(const std::string& path, int32_t rateNum, int32_t rateDen,
                                                            uint32_t bytesPerPixel, uint32_t width, uint32_t height,
                                                            const VideoStreamDescription& description,
                                                            uint32_t channels, uint32_t bytesPerSample,
                                                            uint32_t sampleRate, uint32_t reserved) const;

    const std::string& name() const { return name_; }
    const std::string& filePatterns() const { return filePatterns_; }
    const std::vector<CodecFourCC>& codecs() const { return codecs_; }

protected:
    std::string name_;
    std::string filePatterns_;
    std::vector<CodecFourCC> codecs_;
};

// Movies through FFmpeg: "FFMPEG video file", *.mov;*.mp4;*.avi;*.gif;*.wmv,
// codecs ZMQI, ZMQ3, ZMQ4, "jpeg", "gif ", "h264". Writers are
// VideoFormatWriterFFMPEG.
class VideoFormatFFMPEG : public VideoFormat {
public:
    VideoFormatFFMPEG();
    std::vector<uint32_t> supportedBytesPerPixel() const override { return {3, 4, 8}; }
    std::unique_ptr<VideoFormatWriter> createWriter(const std::string& path, int32_t rateNum, int32_t rateDen,
                                                    uint32_t bytesPerPixel, uint32_t width, uint32_t height,
                                                    const VideoStreamDescription& description, uint32_t channels,
                                                    uint32_t bytesPerSample, uint32_t sampleRate,
                                                    uint32_t reserved) const override;

    // Demuxers kept for the reading side ("mov", "gif", "avi", "asf").
    const AVInputFormat* inputFormat(size_t i) const { return i < 4 ? inputFormats_[i] : nullptr; }

private:
    const AVInputFormat* inputFormats_[4] = {};
};

// Still-image sequences (*.png;*.jpg;...). No codecs, so it never accepts a
// real FourCC. This build carries no image writer: createWriter gives null.
class ImageVideoFormat : public VideoFormat {
public:
    ImageVideoFormat();
    bool isImageFormat() const override { return true; }
};

// The registry. Lives as long as the core context that created it.
class VideoFormatManager : public FormatRegistry {
public:
    VideoFormatManager() = default;
    // Deletes the formats, last registered first.
    ~VideoFormatManager() override;

    // Appends the FFmpeg format and the image format; logs "Registering basic
    // formats" and "Registered %u formats".
    void registerBasicFormats();
    void registerFormat(std::unique_ptr<VideoFormat> format);
    void shutdownFormats() override;

    const std::vector<std::unique_ptr<VideoFormat>>& formats() const { return formats_; }

    // Asks every format that canWrite(getExtension(path), description.fourCC),
    // in registration order, for a writer and returns the first open one; a
    // writer that did not open is destroyed and the search goes on. Null when
    // none opens. The caller owns the writer; destroying it finishes the movie.
    std::unique_ptr<VideoFormatWriter> createWriter(const std::string& path, int32_t rateNum, int32_t rateDen,
                                                    uint32_t bytesPerPixel, uint32_t width, uint32_t height,
                                                    const VideoStreamDescription& description, uint32_t channels,
                                                    uint32_t bytesPerSample, uint32_t sampleRate) const;

private:
    std::vector<std::unique_ptr<VideoFormat>> formats_;
};

// Installs the factory through which the core's bring-up creates the
// registry (with its basic formats). Call before bringUp(); idempotent.
void useVideoFormats();
// The context's registry as a VideoFormatManager, or null.
VideoFormatManager* videoFormatManager(Noxcore* context);

}  // namespace nox
