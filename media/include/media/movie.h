// Reading Zemo 3 movies back: the streams of a movie, its packets in file
// order or a frame by number, its sound by sample position, and the pictures
// its frames hold. The one movie reader of the commands, verify, the playback
// library and the tests.
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

// One stream as the container describes it.
struct MovieStream {
    enum Kind { VIDEO, AUDIO, OTHER } kind = OTHER;  // pictures, sound, or anything else
    int codecId = 0;                                 // FFmpeg's AVCodecID
    std::string codec;                               // FFmpeg's codec name, e.g. "pcm_s16le"
    uint32_t codecTag = 0;                           // first character in the low byte
    int timeBaseNum = 0, timeBaseDen = 1;
    int64_t start = INT64_MIN;  // the first time stamp; INT64_MIN when unknown
    int64_t duration = 0;       // in the time base; 0 when unknown
    int64_t frames = 0;         // packets as the container counts them; 0 when unknown
    // The decoding times of its frames as the container's index lists them
    // when it opens; empty without an index.
    std::vector<int64_t> frameTimes;
    // Where the bytes of those frames lie in the file, frame by frame.
    struct Place {
        int64_t position = 0;
        int64_t size = 0;
    };
    std::vector<Place> framePlaces;
    // Pictures.
    uint32_t width = 0, height = 0;
    int frameRateNum = 0, frameRateDen = 1;  // the average rate, else the base rate; 0/1 when unknown
    // Sound.
    int channels = 0;
    int sampleRate = 0;
    uint64_t channelMask = 0;  // the speakers, one bit each; 0 unless the layout is such a mask
    int bytesPerSample = 0;    // plain PCM; 0 for any other codec

    // Those of the index, else as the container counts them; 0 when unknown.
    int64_t frameCount() const { return frameTimes.empty() ? frames : int64_t(frameTimes.size()); }
};

// What the container says about a movie, before any packet is read.
struct MovieInfo {
    std::vector<MovieStream> streams;  // by stream index
    int videoStreams = 0;              // streams of picture kind
    int audioStreams = 0;
    int otherStreams = 0;
    int video = -1;       // index of the first video stream
    int audio = -1;       // index of the first audio stream
    std::string title;    // the movie's title, "" when it has none
    double duration = 0;  // seconds, as the container gives it; 0 when unknown
    // The first video stream's, when there is one.
    uint32_t codecTag = 0;
    uint32_t width = 0, height = 0;
    int timeBaseNum = 0, timeBaseDen = 1;
    int64_t indexedFrames = 0;  // frames the container counts (0: unknown)
    // The first audio stream's, when there is one.
    std::string audioCodec;  // FFmpeg's codec name, e.g. "pcm_s16le"
    int channels = 0;
    int sampleRate = 0;
    int bytesPerSample = 0;  // 0 for a codec that is not plain PCM
    int audioTimeBaseNum = 0, audioTimeBaseDen = 1;
};

// One packet as read from the file.
struct MoviePacket {
    // VIDEO and AUDIO: packets of the first video and the first audio stream.
    enum Kind { VIDEO, AUDIO, OTHER } kind = OTHER;
    int stream = -1;                // its stream's index
    const uint8_t* data = nullptr;  // valid until the reader reads again
    size_t size = 0;
    int64_t pts = 0, dts = 0, duration = 0;  // stream time base; INT64_MIN when absent
    bool key = false;                        // a key frame
};

// How MovieReader::open() goes about it.
struct MovieOpenOptions {
    // Reads packets to learn what the streams hold (libavformat's probe).
    // Without it only a container that announces no streams in its header is
    // probed, which opens faster.
    bool probe = true;
    // Silences FFmpeg's messages but the fatal ones; without it the caller
    // chooses FFmpeg's log level.
    bool quiet = true;
};

// Opens a movie with libavformat and hands out its packets in file order;
// also goes to a frame by number and reads sound by sample position. One
// reader has one place in the file: a player that reads pictures and sound
// at different places opens one reader for each.
class MovieReader {
public:
    MovieReader();
    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    // False with a message when the file cannot be opened or is no movie
    // libavformat understands.
    bool open(const std::string& path, std::string* error, const MovieOpenOptions& options = {});
    // The same for a movie held in memory (size bytes at data, which must
    // outlive the reader); the messages call it name.
    bool openMemory(const uint8_t* data, size_t size, const std::string& name, std::string* error);
    const MovieInfo& info() const { return info_; }

    // From now on only packets of `stream` are read (libavformat passes over
    // the others).
    void readOnly(int stream);
    // The next packet; false at the end of the file or on a read error, which
    // error() then describes (empty at a clean end).
    bool next(MoviePacket* packet);
    const std::string& error() const { return error_; }

    // Reads frame `index` (from 0) of a stream into packet; next() goes on
    // after it. False past the last frame (error() empty) or when the frame
    // cannot be reached (error() says why).
    bool seekFrame(int stream, int64_t index, MoviePacket* packet);

    // Up to `frames` sample frames (one sample per channel) of the first audio
    // stream, plain PCM, from sample frame `first` on into out, as stored.
    // Returns the frames written: fewer at the end, 0 past it, -1 on failure
    // (error() says why). Reads that follow each other go on in the packet
    // read last, so a reader that serves them should read nothing else.
    int64_t readSound(int64_t first, int64_t frames, uint8_t* out);

    // The demuxer, for callers that copy streams (decode's sound).
    AVFormatContext* format() const { return format_; }
    // The last packet read, for stream copies.
    AVPacket* lastPacket() const { return packet_; }

private:
    bool openInput(const char* url, const std::string& name, std::string* error, const MovieOpenOptions& options);
    void describeStreams();
    // The next packet of `stream` (any when -1) into packet_; FFmpeg's result.
    int readPacket(int stream);
    // The next packet of `stream` (any when -1); false as next().
    bool nextOf(int stream, MoviePacket* packet);
    // Goes back to the key packet at or before `timestamp` of a stream; FFmpeg's result.
    int seekBack(int stream, int64_t timestamp);
    // Reads the sound packet after the one held; false at the end or with error_ set.
    bool nextSoundPacket();

    AVFormatContext* format_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVIOContext* io_ = nullptr;  // reads openMemory's bytes
    struct Memory {
        const uint8_t* data = nullptr;
        size_t size = 0, position = 0;
    } memory_;
    MovieInfo info_;
    int only_ = -1;  // readOnly()'s stream
    // readSound(): packet_ holds sound from sample frame soundFirst_ on.
    bool soundHeld_ = false;
    int64_t soundFirst_ = 0;
    std::string error_;
};

}  // namespace zemo3
