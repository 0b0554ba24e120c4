// Stream encoders of the FFmpeg movie writer: they turn the writer's AVFrames
// into AVPackets stamped in the stream's time base, each paired with the
// sequence number that decides its place in the file.
//
// Only FFmpeg's structs are forward-declared here; code that calls these
// classes directly includes the FFmpeg headers it needs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "codec/stream.h"

extern "C" {
struct AVBufferPool;
struct AVBufferRef;
struct AVCodec;
struct AVCodecContext;
struct AVDictionary;
struct AVFrame;
struct AVPacket;
struct AVRational;
}

namespace nox {

// Frees a packet and whatever data it still references.
struct PacketDeleter {
    void operator()(AVPacket* packet) const;
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// An owned packet and its sequence number: the frame index for video, the
// running packet counter for audio (and for FFmpeg video encoders).
struct SequencedPacket {
    PacketPtr packet;
    uint64_t sequence = 0;
};
using PacketList = std::vector<SequencedPacket>;

// Base of the stream encoders. Owns the video and audio codec contexts (which
// the writer allocates and hands over) and implements the audio path.
class FFMPEGEncoder {
public:
    explicit FFMPEGEncoder(const VideoStreamDescription& description);
    virtual ~FFMPEGEncoder();

    FFMPEGEncoder(const FFMPEGEncoder&) = delete;
    FFMPEGEncoder& operator=(const FFMPEGEncoder&) = delete;

    virtual bool isCustomCodec() const = 0;
    // Options for avcodec_open2 and avformat_write_header; the caller frees
    // them. None by default.
    virtual AVDictionary* getOptions() const { return nullptr; }
    // Encodes one frame (its pts is the frame index), or drains with a null
    // frame. Packets are stamped in streamTimeBase. failed reports an encode
    // error; an empty result without failure means "nothing yet".
    virtual PacketList encodeVideo(const AVFrame* frame, int streamIndex, AVRational streamTimeBase, bool& failed) = 0;
    // Sends one chunk (or null to drain) to the audio codec and collects its
    // packets. pts are running sample positions: the sum of the durations of
    // every earlier packet. One caller at a time.
    PacketList encodeAudio(const AVFrame* frame, int streamIndex, AVRational streamTimeBase, bool& failed);
    virtual bool needsAudioConversion() const { return false; }
    // Converted sample bytes for codecs that do not take the host's layout.
    virtual std::vector<uint8_t> convertAudio(const void* samples, uint32_t bytesPerSample, uint32_t count,
                                              uint32_t channels) const;
    // The FFmpeg video encoder to open, or null when frames are compressed
    // by the program itself.
    virtual const AVCodec* findVideoCodec() const { return nullptr; }
    // PCM by sample size: 1 byte pcm_u8, 2 bytes pcm_s16le, otherwise pcm_s32le.
    virtual const AVCodec* findAudioCodec(uint32_t channels, uint32_t bytesPerSample, uint32_t sampleRate);
    // Adjusts the video context after the writer has set size, rate and time base.
    virtual void configureVideoContext() = 0;

    AVCodecContext* videoContext() const { return videoContext_; }
    AVCodecContext* audioContext() const { return audioContext_; }
    // Takes ownership of a context allocated with avcodec_alloc_context3.
    void setVideoContext(AVCodecContext* context);
    void setAudioContext(AVCodecContext* context);
    const VideoStreamDescription& description() const { return description_; }

protected:
    VideoStreamDescription description_;
    AVCodecContext* videoContext_ = nullptr;
    AVCodecContext* audioContext_ = nullptr;
    std::atomic<uint32_t> audioPacketCounter_{0};
    std::atomic<int64_t> audioSamplePosition_{0};
};

// Each frame becomes one packet holding the Compressor's output. Nothing is
// held back, so draining yields nothing. encodeVideo may run on many threads
// at once (the compressor accepts concurrent calls).
class FFMPEGCustomEncoder : public FFMPEGEncoder {
public:
    explicit FFMPEGCustomEncoder(std::unique_ptr<Compressor> compressor);
    ~FFMPEGCustomEncoder() override;

    bool isCustomCodec() const override;
    PacketList encodeVideo(const AVFrame* frame, int streamIndex, AVRational streamTimeBase, bool& failed) override;
    // The packet of a frame compressed before (a frame copied from another
    // movie of the same stream), stamped as encodeVideo stamps frame `index`:
    // `fill` writes the frame's `size` bytes into the packet's payload.
    // failed when the frame is empty, larger than the compressor's bound, or
    // fill returns false.
    PacketList copyEncoded(size_t size, const std::function<bool(uint8_t*)>& fill, int64_t index, int streamIndex,
                           AVRational streamTimeBase, bool& failed);
    // No codec id (the writer looks it up from the muxer's tag table), the
    // description's FourCC as codec tag, pixel format by bytes per pixel.
    void configureVideoContext() override;

    Compressor& compressor() const { return *compressor_; }

private:
    // The packet around a payload from payloadPool_ that holds a frame of
    // `size` bytes; FFmpeg's padding behind it is cleared here.
    PacketList framePacket(AVBufferRef* payload, int32_t size, int64_t index, int streamIndex,
                           AVRational streamTimeBase);

    std::unique_ptr<Compressor> compressor_;
    // Packet payloads of outputBound() bytes (plus FFmpeg's padding), reused
    // once the muxer has let go of a packet: a long export allocates them
    // only for its first frames in flight.
    AVBufferPool* payloadPool_ = nullptr;
};

// Drives an FFmpeg video encoder chosen by FourCC: "h264" or "gif ".
//
// FFmpeg encoders want frames in presentation order, while the writer may
// hand them over in any order from many threads; this encoder therefore keeps
// early frames until the missing ones arrive and feeds the codec in frame
// order under its own lock. Packets are numbered in the order the codec
// returns them. Frames after a frame that never arrives are never encoded.
//
// Rate control for h264: a negative rate factor (the default) leaves the
// encoder's own constant-quality mode; a factor r >= 0 asks for
// width × height × 12 × max(r, 0.01) bits per second. A key frame comes every
// max(1, floor(frame rate × key-frame interval)) frames; at most one B-frame.
//
// Audio: with "h264" the sound is AC-3 from interleaved 32-bit stereo,
// in chunks of exactly getAudioFrameSize() samples; "gif " has no sound.
class FFMPEGInternalEncoder : public FFMPEGEncoder {
public:
    explicit FFMPEGInternalEncoder(const VideoStreamDescription& description);
    ~FFMPEGInternalEncoder() override;

    bool isCustomCodec() const override { return false; }
    PacketList encodeVideo(const AVFrame* frame, int streamIndex, AVRational streamTimeBase, bool& failed) override;
    bool needsAudioConversion() const override { return !audioPassThrough_; }
    // 32-bit interleaved stereo to planar float (left block, then right),
    // only for a planar-float codec; otherwise no bytes.
    std::vector<uint8_t> convertAudio(const void* samples, uint32_t bytesPerSample, uint32_t count,
                                      uint32_t channels) const override;
    const AVCodec* findVideoCodec() const override;
    const AVCodec* findAudioCodec(uint32_t channels, uint32_t bytesPerSample, uint32_t sampleRate) override;
    void configureVideoContext() override;

private:
    // Sends one frame (or null) and collects what the codec returns.
    bool sendAndReceive(const AVFrame* frame, int streamIndex, AVRational streamTimeBase, PacketList& out);

    std::mutex codecLock_;
    std::map<int64_t, AVFrame*> heldFrames_;  // early frames by index, owned
    int64_t nextFrame_ = 0;
    uint32_t videoPacketCounter_ = 0;
    bool audioPassThrough_ = true;
};

}  // namespace nox
