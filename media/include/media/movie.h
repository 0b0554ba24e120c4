// Reading Zemo 3 movies back: the streams of a movie, its packets in file
// order, and the pictures its frames hold. Used by verify, decode and inspect.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "reader/frame_decoder.h"
#include "reader/pictures.h"

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace zemo3 {

// The stream tag of Zemo 3 video as FFmpeg reports it (first character in the
// low byte).
constexpr uint32_t kMovieTag = uint32_t('Z') | uint32_t('M') << 8 | uint32_t('Q') << 16 | uint32_t('3') << 24;

// FFmpeg's text for one of its error codes.
std::string avErrorText(int code);

// "ZMQ3" for a codec tag in FFmpeg's byte order; non-printable bytes as '?'.
std::string tagText(uint32_t codecTag);
// "YG10" for a frame header's texture tag (first character in the high byte).
std::string frameTagText(uint32_t tag);

// What the container says about a movie, before any packet is read.
struct MovieInfo {
    int videoStreams = 0;  // streams of picture kind
    int audioStreams = 0;
    int otherStreams = 0;
    int video = -1;  // index of the first video stream
    int audio = -1;  // index of the first audio stream
    uint32_t codecTag = 0;
    uint32_t width = 0, height = 0;
    int timeBaseNum = 0, timeBaseDen = 1;  // video stream time base
    int64_t indexedFrames = 0;             // frames listed by the container's index (0: unknown)
    // Audio, when there is an audio stream.
    std::string audioCodec;  // FFmpeg's codec name, e.g. "pcm_s16le"
    int channels = 0;
    int sampleRate = 0;
    int bytesPerSample = 0;  // 0 for a codec that is not plain PCM
    int audioTimeBaseNum = 0, audioTimeBaseDen = 1;
};

// One packet as read from the file.
struct MoviePacket {
    enum Kind { VIDEO, AUDIO, OTHER } kind = OTHER;
    const uint8_t* data = nullptr;  // valid until the next call to next()
    size_t size = 0;
    int64_t pts = 0, dts = 0, duration = 0;  // stream time base; INT64_MIN when absent
    int64_t position = -1;                    // byte offset in the file, -1 when unknown
};

// Opens a movie with libavformat and hands out its packets in file order.
class MovieReader {
public:
    MovieReader();
    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    // False with a message when the file cannot be opened or is no movie
    // libavformat understands. Quiets FFmpeg's own messages below errors.
    bool open(const std::string& path, std::string* error);
    // The same for a movie held in memory (size bytes at data, which must
    // outlive the reader); the messages call it name.
    bool openMemory(const uint8_t* data, size_t size, const std::string& name, std::string* error);
    const MovieInfo& info() const { return info_; }
    // The next packet; false at the end of the file or on a read error, which
    // error() then describes (empty at a clean end).
    bool next(MoviePacket* packet);
    const std::string& error() const { return error_; }
    // The demuxer, for callers that copy streams (decode's sound).
    AVFormatContext* format() const { return format_; }
    // The last packet read, for stream copies.
    AVPacket* lastPacket() const { return packet_; }

private:
    bool openInput(const char* url, const std::string& name, std::string* error);

    AVFormatContext* format_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVIOContext* io_ = nullptr;  // reads openMemory's bytes
    struct Memory {
        const uint8_t* data = nullptr;
        size_t size = 0, position = 0;
    } memory_;
    MovieInfo info_;
    std::string error_;
};

// Frames to pictures (reader/pictures.h).
using nox::FramePictures;
using nox::typeHasAlpha;

}  // namespace zemo3
