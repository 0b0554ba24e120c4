// The writer base class: what every movie or image-sequence writer offers to
// the export job, and the frame entry point addFrame.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "codec/stream.h"

namespace nox {

class PixelsCached;

// Abstract writer. A writer is created open (or discarded) by its format and
// finished by its destructor; there is no separate close call.
//
// Threading: addFrame / writeFrame may be called from many threads at once
// with distinct frame indices; addAudio from one thread at a time;
// writePendingPackets from any thread.
class VideoFormatWriter {
public:
    // path is kept exactly as given: on this platform "/" is the directory
    // separator, so no separator rewriting takes place.
    VideoFormatWriter(const VideoStreamDescription& description, std::string path, int32_t rateNum, int32_t rateDen,
                      uint32_t bytesPerPixel, uint32_t width, uint32_t height, uint32_t channels,
                      uint32_t bytesPerSample, uint32_t sampleRate, std::string formatName);
    virtual ~VideoFormatWriter();

    VideoFormatWriter(const VideoFormatWriter&) = delete;
    VideoFormatWriter& operator=(const VideoFormatWriter&) = delete;

    // Whether frames go through a program Compressor (true) or an FFmpeg
    // video encoder (false).
    virtual bool isCustomCodec() const = 0;
    // Samples per chunk a fixed-frame-size audio codec wants; 0 when any
    // chunk size is accepted (PCM) or there is no sound.
    virtual int getAudioFrameSize() const { return 0; }
    // Writes one chunk of `count` interleaved sample frames. `position` is the
    // chunk's place in the export and is informational only: timestamps run
    // on from the samples actually encoded. Only on writers made with
    // channels > 0. The buffer is not referenced after the call.
    virtual bool addAudio(const void* samples, uint64_t position, uint32_t count);
    // Container metadata (key → value). False when the writer cannot take it.
    virtual bool setMetadata(const std::map<std::string, std::string>& metadata);
    // Writes every queued packet that continues the written sequence without
    // a gap. wait = false returns at once (true) when another thread is
    // writing; wait = true waits its turn. False on a muxer error.
    virtual bool writePendingPackets(bool wait);
    virtual bool isOpen() const = 0;
    // A writer may refuse particular frame indices; none here does.
    virtual bool rejectsFrame(uint64_t frameIndex) const;
    // Why the movie can no longer be completed (a frame could not be
    // encoded, a write to the file failed); empty while all is well. The
    // first reason stays. After a failed write the writer takes no more
    // frames or sound and its flushes report false.
    virtual std::string failure() const { return {}; }
    // When that failure is the file refusing a write, the system's reason
    // ("No space left on device"); empty otherwise.
    virtual std::string writeFailure() const { return {}; }
    // Mean encode time of the last 25 frames in milliseconds (0 before any).
    virtual double getAverageEncodeTime() const { return 0.0; }

    // Converts and encodes one frame and queues its packets. `data` holds at
    // least height rows of `stride` bytes. False when the frame could not be
    // encoded; nothing is queued for its index then.
    virtual bool writeFrame(uint64_t frameIndex, uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                            uint64_t stride, const uint8_t* data) = 0;

    // Checks a pooled buffer and hands it to writeFrame. A buffer whose bytes
    // per pixel differ from the writer's is refused (false) without work.
    // The writer keeps no reference to the buffer.
    bool addFrame(uint64_t frameIndex, const PixelsCached& pixels);

    // Reads 4-byte source pixels as BGRA instead of RGBA. Set it before the
    // first frame; nothing in the export does.
    void setBgraOrder(bool bgra) { bgraOrder_ = bgra ? 1u : 0u; }
    bool bgraOrder() const { return bgraOrder_ != 0; }

    const VideoStreamDescription& description() const { return description_; }
    const std::string& path() const { return path_; }
    // The same path in UTF-16, for APIs that take wide names.
    const std::u16string& pathWide() const { return pathWide_; }
    const std::string& formatName() const { return formatName_; }
    int32_t frameRateNum() const { return frameRateNum_; }
    int32_t frameRateDen() const { return frameRateDen_; }
    uint32_t bytesPerPixel() const { return bytesPerPixel_; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint32_t channels() const { return channels_; }
    uint32_t bytesPerSample() const { return bytesPerSample_; }
    uint32_t sampleRate() const { return sampleRate_; }

protected:
    VideoStreamDescription description_;
    uint32_t bgraOrder_ = 0;
    int32_t frameRateNum_;
    int32_t frameRateDen_;
    uint32_t bytesPerPixel_;
    uint32_t width_;
    uint32_t height_;
    std::string path_;
    std::u16string pathWide_;
    uint32_t channels_;
    uint32_t bytesPerSample_;
    uint32_t sampleRate_;
    std::string formatName_;
};

}  // namespace nox
