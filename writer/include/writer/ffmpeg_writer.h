// The FFmpeg movie writer: frames handed in any order from many threads are
// converted with libswscale, encoded by a stream encoder and written to the
// container in frame order.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "core/threads.h"
#include "writer/ffmpeg_encoder.h"
#include "writer/writer.h"

extern "C" {
struct AVBufferPool;
struct AVFormatContext;
struct AVFrame;
struct AVStream;
struct SwsContext;
}

namespace nox {

// Opens in its constructor: output context (muxer chosen by FFmpeg from the
// file name), video stream, PCM audio stream when channels > 0, the file, and
// the container header. isOpen() tells whether all of that worked; a writer
// that did not open has closed and removed any file it created and must be
// discarded. Destruction drains the encoders, writes what is queued, writes
// the trailer and closes the file.
//
// The encoder: a Compressor from description.codec when it makes one
// (FFMPEGCustomEncoder), otherwise an FFmpeg encoder chosen by
// description.fourCC (FFMPEGInternalEncoder).
//
// Threading: compression and pixel conversion run in parallel on the calling
// threads; only handing packets to the muxer is serialised (write lock,
// taken with a try first so that a busy writer does not stall a worker).
class VideoFormatWriterFFMPEG : public VideoFormatWriter {
public:
    VideoFormatWriterFFMPEG(const VideoStreamDescription& description, const std::string& path, int32_t rateNum,
                            int32_t rateDen, uint32_t bytesPerPixel, uint32_t width, uint32_t height, uint32_t channels,
                            uint32_t bytesPerSample, uint32_t sampleRate);
    // Builds a writer around a given compressor, whatever the description's
    // codec says (for tools and tests that bring their own Compressor).
    VideoFormatWriterFFMPEG(std::unique_ptr<Compressor> compressor, const std::string& path, int32_t rateNum,
                            int32_t rateDen, uint32_t bytesPerPixel, uint32_t width, uint32_t height, uint32_t channels,
                            uint32_t bytesPerSample, uint32_t sampleRate);
    ~VideoFormatWriterFFMPEG() override;

    bool isCustomCodec() const override { return customCodec_; }
    int getAudioFrameSize() const override;
    bool addAudio(const void* samples, uint64_t position, uint32_t count) override;
    // Goes into the container's tables that are written with the trailer
    // (mov/mp4 write their index there); muxers that write metadata only in
    // the header ignore it. False when the writer is not open.
    bool setMetadata(const std::map<std::string, std::string>& metadata) override;
    bool writePendingPackets(bool wait) override;
    bool isOpen() const override { return opened_; }
    std::string failure() const override;
    std::string writeFailure() const override;
    double getAverageEncodeTime() const override;
    // Source frames must be at least the writer's width and height, rows
    // `stride` bytes apart; the top-left width × height pixels are used.
    bool writeFrame(uint64_t frameIndex, uint32_t width, uint32_t height, uint32_t bytesPerPixel, uint64_t stride,
                    const uint8_t* data) override;

    // Writes a frame compressed before, taken whole from another movie of
    // the same stream (a join or cut copies frames this way, never decoding
    // them), as frame `frameIndex`. The bytes are not copied: they must stay
    // as they are until the writer is destroyed. Only on writers with a
    // compressor, for frames up to its output bound; false otherwise or
    // after a failure.
    bool writeEncodedFrame(uint64_t frameIndex, const uint8_t* frame, size_t size);

    // Frame index of the last video packet written (-1: none yet).
    int64_t lastWrittenFrame() const { return lastVideoSequence_.load(std::memory_order_acquire); }
    // Packets waiting for an earlier one (video, audio).
    size_t queuedVideoPackets() const;
    size_t queuedAudioPackets() const;
    // Scaling contexts created so far (the most frames converted at once).
    size_t scalerCount() const;

private:
    void construct(std::unique_ptr<FFMPEGEncoder> encoder);
    bool open();
    bool openVideoStream();
    bool openAudioStream();
    void discardFailedOpen();
    // Appends packets to `queue` under its lock.
    static void queuePackets(PacketList& packets, PacketList& queue, std::mutex& lock);
    // Takes the unbroken run that follows `last` out of `queue`.
    static PacketList takeReadyRun(PacketList& queue, std::mutex& lock, int64_t last);
    bool flushOnce(bool& wroteAny);
    // Gives the frame (format and size set) its picture from picturePool_.
    bool attachPooledPicture(AVFrame* frame);
    SwsContext* takeScaler();
    void returnScaler(SwsContext* scaler);
    void recordEncodeTime(double milliseconds);
    // Keeps the first failure; later ones are consequences of it.
    void fail(std::string why);
    void failWrite(int averror);

    bool opened_ = false;
    bool customCodec_ = false;
    bool fileOpened_ = false;  // avio_open succeeded: the file is ours to close
    AVFormatContext* formatContext_ = nullptr;
    AVStream* videoStream_ = nullptr;
    AVStream* audioStream_ = nullptr;

    mutable std::mutex videoQueueLock_;
    PacketList videoQueue_;
    std::atomic<int64_t> lastVideoSequence_{-1};
    mutable std::mutex audioQueueLock_;
    PacketList audioQueue_;
    std::atomic<int64_t> lastAudioSequence_{-1};

    mutable SpinLock scalerPoolLock_;
    std::deque<SwsContext*> scalerPool_;
    size_t scalersCreated_ = 0;

    std::unique_ptr<FFMPEGEncoder> encoder_;

    // Pictures of the converted frames, reused once a frame is encoded.
    static constexpr int kPictureAlign = 64;
    AVBufferPool* picturePool_ = nullptr;

    static constexpr uint32_t kEncodeTimeWindow = 25;
    mutable SpinLock encodeTimesLock_;
    double encodeTimes_[kEncodeTimeWindow] = {};
    uint32_t encodeTimeNext_ = 0;
    uint32_t encodeTimeCount_ = 0;
    double encodeTimeSum_ = 0.0;

    std::mutex writeLock_;

    std::atomic<bool> writeFailed_{false};
    mutable std::mutex failureLock_;
    std::string failure_;
    std::string writeFailure_;  // the system's words, when failure_ is a failed write
};

}  // namespace nox
