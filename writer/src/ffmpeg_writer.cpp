#include "writer/ffmpeg_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "ffmpeg.h"
#include "platform/platform.h"
#include "writer/formats.h"

namespace nox {

namespace {

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

// The muxer whose short name is exactly `name`, or null.
const AVOutputFormat* muxerNamed(const std::string& name)
{
    if (name.empty())
        return nullptr;
    void* opaque = nullptr;
    while (const AVOutputFormat* muxer = av_muxer_iterate(&opaque))
        if (muxer->name && name == muxer->name)
            return muxer;
    return nullptr;
}

AVPixelFormat sourcePixelFormat(uint32_t bytesPerPixel, bool bgra)
{
    switch (bytesPerPixel) {
    case 2:
        return AV_PIX_FMT_GRAY16BE;
    case 3:
        return AV_PIX_FMT_RGB24;  // the registry offers 3-byte sources too
    case 8:
        return AV_PIX_FMT_RGBA64LE;
    default:
        return bgra ? AV_PIX_FMT_BGRA : AV_PIX_FMT_RGBA;
    }
}

}  // namespace

VideoFormatWriterFFMPEG::VideoFormatWriterFFMPEG(const VideoStreamDescription& description, const std::string& path,
                                                 int32_t rateNum, int32_t rateDen, uint32_t bytesPerPixel,
                                                 uint32_t width, uint32_t height, uint32_t channels,
                                                 uint32_t bytesPerSample, uint32_t sampleRate)
    : VideoFormatWriter(description, path, rateNum, rateDen, bytesPerPixel, width, height, channels, bytesPerSample,
                        sampleRate, "MOV")
{
    std::unique_ptr<FFMPEGEncoder> encoder;
    if (description_.codec) {
        if (auto compressor = description_.codec->createCompressor(description_))
            encoder = std::make_unique<FFMPEGCustomEncoder>(std::move(compressor));
    }
    if (!encoder)
        encoder = std::make_unique<FFMPEGInternalEncoder>(description_);
    construct(std::move(encoder));
}

VideoFormatWriterFFMPEG::VideoFormatWriterFFMPEG(std::unique_ptr<Compressor> compressor, const std::string& path,
                                                 int32_t rateNum, int32_t rateDen, uint32_t bytesPerPixel,
                                                 uint32_t width, uint32_t height, uint32_t channels,
                                                 uint32_t bytesPerSample, uint32_t sampleRate)
    : VideoFormatWriter(compressor->stream(), path, rateNum, rateDen, bytesPerPixel, width, height, channels,
                        bytesPerSample, sampleRate, "MOV")
{
    construct(std::make_unique<FFMPEGCustomEncoder>(std::move(compressor)));
}

void VideoFormatWriterFFMPEG::construct(std::unique_ptr<FFMPEGEncoder> encoder)
{
    encoder_ = std::move(encoder);
    customCodec_ = encoder_->isCustomCodec();
    opened_ = open();
    if (!opened_)
        discardFailedOpen();
}

VideoFormatWriterFFMPEG::~VideoFormatWriterFFMPEG()
{
    if (opened_) {
        bool failed = false;
        if (videoStream_) {
            for (;;) {
                PacketList packets =
                    encoder_->encodeVideo(nullptr, videoStream_->index, videoStream_->time_base, failed);
                if (packets.empty())
                    break;
                queuePackets(packets, videoQueue_, videoQueueLock_);
            }
        }
        if (audioStream_) {
            for (;;) {
                PacketList packets =
                    encoder_->encodeAudio(nullptr, audioStream_->index, audioStream_->time_base, failed);
                if (packets.empty())
                    break;
                queuePackets(packets, audioQueue_, audioQueueLock_);
            }
        }
        writePendingPackets(true);
        // Packets still queued follow a frame that never came; they are
        // dropped and the movie ends before the gap. The trailer is written
        // even after a failed flush so that what was written stays readable.
        av_write_trailer(formatContext_);
        if (!(formatContext_->oformat->flags & AVFMT_NOFILE))
            avio_closep(&formatContext_->pb);
        avformat_free_context(formatContext_);
        formatContext_ = nullptr;
    }
    // Pictures still referenced (by an FFmpeg encoder's held frames) return
    // to the pool when let go; the pool goes with the last of them.
    av_buffer_pool_uninit(&picturePool_);
    while (!scalerPool_.empty()) {
        sws_freeContext(scalerPool_.front());
        scalerPool_.pop_front();
    }
    videoQueue_.clear();
    audioQueue_.clear();
    encoder_.reset();
}

bool VideoFormatWriterFFMPEG::open()
{
    const std::string size = std::to_string(width_) + "x" + std::to_string(height_);
    if (frameRateNum_ <= 0 || frameRateDen_ <= 0 || description_.frameRateNum <= 0 || description_.frameRateDen <= 0) {
        fail("no frame rate (" + std::to_string(frameRateNum_) + "/" + std::to_string(frameRateDen_) + ")");
        return false;
    }
    // Sizes FFmpeg cannot make frames of are refused here rather than with
    // the first frame.
    if (av_image_check_size(width_, height_, 0, nullptr) < 0 ||
        av_image_check_size(description_.width, description_.height, 0, nullptr) < 0) {
        fail("FFmpeg takes no picture of " + size);
        return false;
    }
    // FFmpeg chooses the muxer from the file name.
    if (avformat_alloc_output_context2(&formatContext_, nullptr, nullptr, path_.c_str()) < 0 || !formatContext_) {
        fail("no container for \"" + path_ + "\"");
        return false;
    }
    if (!openVideoStream()) {
        fail("the video stream (" + size + ") could not be set up");
        return false;
    }
    if (channels_ != 0 && !openAudioStream()) {
        fail("the sound stream (" + std::to_string(channels_) + " channels at " + std::to_string(sampleRate_) +
             " Hz) could not be set up");
        return false;
    }
    if (!(formatContext_->oformat->flags & AVFMT_NOFILE)) {
        if (const int r = avio_open(&formatContext_->pb, path_.c_str(), AVIO_FLAG_WRITE); r < 0) {
            char text[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(r, text, sizeof text);
            fail("opening \"" + path_ + "\" failed: " + text);
            return false;
        }
        fileOpened_ = true;
    }
    AVDictionary* options = encoder_->getOptions();
    int r = avformat_write_header(formatContext_, options ? &options : nullptr);
    av_dict_free(&options);
    // 0 or 1: the streams were set up in write_header or already in init_output.
    if (r == AVSTREAM_INIT_IN_WRITE_HEADER || r == AVSTREAM_INIT_IN_INIT_OUTPUT)
        return true;
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(r, text, sizeof text);
    fail("writing the header of \"" + path_ + "\" failed: " + text);
    return false;
}

bool VideoFormatWriterFFMPEG::openVideoStream()
{
    AVCodecContext* context = avcodec_alloc_context3(encoder_->findVideoCodec());
    if (!context)
        return false;
    encoder_->setVideoContext(context);
    context->width = int(description_.width);
    context->height = int(description_.height);
    context->framerate = AVRational{description_.frameRateNum, description_.frameRateDen};
    // One tick per frame: frame indices are the codec's timestamps.
    context->time_base = AVRational{description_.frameRateDen, description_.frameRateNum};
    context->pix_fmt = AV_PIX_FMT_ARGB;
    encoder_->configureVideoContext();

    // A stream that carries only a codec tag gets its codec id from the
    // muxer's own tag table, so the container describes it the way the
    // muxer knows it. FFmpeg encoders bring their id and carry no tag.
    if (context->codec_tag != 0) {
        if (const AVOutputFormat* muxer = muxerNamed(getExtension(path_)); muxer && muxer->codec_tag)
            context->codec_id = av_codec_get_id(muxer->codec_tag, context->codec_tag);
    }

    videoStream_ = avformat_new_stream(formatContext_, context->codec);
    if (!videoStream_)
        return false;
    videoStream_->id = int(formatContext_->nb_streams) - 1;
    if (formatContext_->oformat->flags & AVFMT_GLOBALHEADER)
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (context->codec) {
        AVDictionary* options = encoder_->getOptions();
        int r = avcodec_open2(context, context->codec, options ? &options : nullptr);
        av_dict_free(&options);
        if (r < 0)
            return false;
    }
    if (avcodec_parameters_from_context(videoStream_->codecpar, context) < 0)
        return false;
    videoStream_->time_base = context->time_base;
    // Every converted frame has the stream's format and size, so one pool
    // of one buffer size serves them all; it allocates nothing until a
    // frame asks.
    const int pictureSize = av_image_get_buffer_size(context->pix_fmt, context->width, context->height, kPictureAlign);
    if (pictureSize <= 0)
        return false;
    picturePool_ = av_buffer_pool_init(size_t(pictureSize), av_buffer_alloc);
    return picturePool_ != nullptr;
}

bool VideoFormatWriterFFMPEG::openAudioStream()
{
    const AVCodec* codec = encoder_->findAudioCodec(channels_, bytesPerSample_, sampleRate_);
    if (!codec || !codec->sample_fmts)
        return false;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (!context)
        return false;
    encoder_->setAudioContext(context);
    av_channel_layout_default(&context->ch_layout, int(channels_));
    context->sample_fmt = codec->sample_fmts[0];
    context->sample_rate = int(sampleRate_);
    // One tick per sample frame. The encoder then reports packet durations as
    // sample counts, its running position is the exact sample position of
    // each packet, and rescaling to the stream's 1 / sample rate is lossless.
    context->time_base = AVRational{1, int(sampleRate_)};

    audioStream_ = avformat_new_stream(formatContext_, codec);
    if (!audioStream_)
        return false;
    audioStream_->id = int(formatContext_->nb_streams) - 1;
    audioStream_->time_base = AVRational{1, int(sampleRate_)};
    if (formatContext_->oformat->flags & AVFMT_GLOBALHEADER)
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(context, codec, nullptr) < 0)
        return false;
    return avcodec_parameters_from_context(audioStream_->codecpar, context) >= 0;
}

void VideoFormatWriterFFMPEG::discardFailedOpen()
{
    // A writer that did not open leaves nothing behind: the file it created
    // (possibly empty, possibly a partial header) is closed and removed, so a
    // failed start never looks like a movie. A file that was already there
    // was truncated by the open and is removed as well.
    if (formatContext_) {
        if (fileOpened_) {
            avio_closep(&formatContext_->pb);
            platform::removeFile(path_);
            fileOpened_ = false;
        }
        avformat_free_context(formatContext_);
        formatContext_ = nullptr;
    }
    videoStream_ = nullptr;
    audioStream_ = nullptr;
}

int VideoFormatWriterFFMPEG::getAudioFrameSize() const
{
    const AVCodecContext* context = encoder_ ? encoder_->audioContext() : nullptr;
    return context && opened_ ? context->frame_size : 0;
}

bool VideoFormatWriterFFMPEG::addAudio(const void* samples, uint64_t position, uint32_t count)
{
    if (!opened_ || !audioStream_ || !samples || count == 0 || writeFailed_.load(std::memory_order_acquire))
        return false;
    AVCodecContext* context = encoder_->audioContext();
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw std::bad_alloc();
    frame->nb_samples = int(count);
    frame->format = context->sample_fmt;
    frame->sample_rate = context->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &context->ch_layout) < 0)
        return false;
    const int channels = context->ch_layout.nb_channels;
    const uint64_t byteCount = uint64_t(channels_) * bytesPerSample_ * count;
    if (byteCount > uint64_t(INT32_MAX))
        return false;
    std::vector<uint8_t> converted;
    int r;
    if (!encoder_->needsAudioConversion()) {
        // The frame's planes point into the caller's buffer. The frame owns
        // no buffer, so the codec takes its own copy of the samples when it
        // is sent; nothing refers to the caller's memory after this call.
        r = avcodec_fill_audio_frame(frame.get(), channels, context->sample_fmt, static_cast<const uint8_t*>(samples),
                                     int(byteCount), 1);
    } else {
        // A codec with a fixed frame size takes at most one codec frame per
        // call; callers size their chunks with getAudioFrameSize().
        converted = encoder_->convertAudio(samples, bytesPerSample_, count, channels_);
        if (context->frame_size > 0 && count > uint32_t(context->frame_size))
            frame->nb_samples = context->frame_size;
        uint64_t limit = uint64_t(std::max(context->frame_size, 0)) * channels_ * bytesPerSample_;
        if (limit == 0)
            limit = converted.size();
        r = avcodec_fill_audio_frame(frame.get(), channels, context->sample_fmt, converted.data(),
                                     int(std::min<uint64_t>(limit, converted.size())), 1);
    }
    if (r < 0)
        return false;
    bool failed = false;
    PacketList packets = encoder_->encodeAudio(frame.get(), audioStream_->index, audioStream_->time_base, failed);
    if (failed) {
        fail("the sound from sample " + std::to_string(position) + " could not be encoded");
        return false;
    }
    if (packets.empty())
        return true;
    queuePackets(packets, audioQueue_, audioQueueLock_);
    return writePendingPackets(false);
}

bool VideoFormatWriterFFMPEG::setMetadata(const std::map<std::string, std::string>& metadata)
{
    if (!opened_ || !videoStream_)
        return false;
    AVDictionary* dict = nullptr;
    for (const auto& [key, value] : metadata)
        av_dict_set(&dict, key.c_str(), value.c_str(), 0);
    // The header is already written; the muxer reads the context's metadata
    // again when it writes its closing tables. Writing the header a second
    // time is not something FFmpeg supports.
    std::lock_guard<std::mutex> guard(writeLock_);
    av_dict_free(&formatContext_->metadata);
    formatContext_->metadata = dict;
    return true;
}

void VideoFormatWriterFFMPEG::queuePackets(PacketList& packets, PacketList& queue, std::mutex& lock)
{
    std::lock_guard<std::mutex> guard(lock);
    for (auto& p : packets)
        queue.push_back(std::move(p));
}

PacketList VideoFormatWriterFFMPEG::takeReadyRun(PacketList& queue, std::mutex& lock, int64_t last)
{
    PacketList run;
    std::lock_guard<std::mutex> guard(lock);
    if (queue.empty())
        return run;
    std::sort(queue.begin(), queue.end(),
              [](const SequencedPacket& a, const SequencedPacket& b) { return a.sequence < b.sequence; });
    // A number at or below the last one written was given twice; it could
    // never be written and would block the queue, so it goes.
    size_t stale = 0;
    while (stale < queue.size() && int64_t(queue[stale].sequence) <= last)
        ++stale;
    size_t end = stale;
    int64_t expect = last + 1;
    while (end < queue.size() && int64_t(queue[end].sequence) == expect) {
        ++end;
        ++expect;
    }
    for (size_t i = stale; i < end; ++i)
        run.push_back(std::move(queue[i]));
    queue.erase(queue.begin(), queue.begin() + ptrdiff_t(end));
    return run;
}

bool VideoFormatWriterFFMPEG::flushOnce(bool& wroteAny)
{
    wroteAny = false;
    PacketList audio = takeReadyRun(audioQueue_, audioQueueLock_, lastAudioSequence_.load());
    PacketList video = takeReadyRun(videoQueue_, videoQueueLock_, lastVideoSequence_.load());
    // Audio first: the interleaver then has the sound that belongs beside
    // these frames before it decides what to write.
    for (auto& p : audio) {
        if (int r = av_interleaved_write_frame(formatContext_, p.packet.get()); r < 0) {
            failWrite(r);
            return false;
        }
        lastAudioSequence_.exchange(int64_t(p.sequence));
        wroteAny = true;
    }
    for (auto& p : video) {
        if (int r = av_interleaved_write_frame(formatContext_, p.packet.get()); r < 0) {
            failWrite(r);
            return false;
        }
        lastVideoSequence_.exchange(int64_t(p.sequence));
        wroteAny = true;
    }
    return true;
}

bool VideoFormatWriterFFMPEG::writePendingPackets(bool wait)
{
    if (!opened_)
        return true;
    if (writeFailed_.load(std::memory_order_acquire))
        return false;
    // Try first: a worker that finds another thread writing leaves its
    // packets queued for that thread (or a later flush) and goes back to
    // compressing instead of queueing up behind the muxer.
    std::unique_lock<std::mutex> lock(writeLock_, std::try_to_lock);
    if (!lock.owns_lock()) {
        if (!wait)
            return true;
        lock.lock();
    }
    // Keep going while packets become ready: frames finished by other
    // threads during a write are picked up without another round trip.
    bool wroteAny = true;
    while (wroteAny) {
        if (!flushOnce(wroteAny))
            return false;
    }
    return true;
}

SwsContext* VideoFormatWriterFFMPEG::takeScaler()
{
    {
        std::lock_guard<SpinLock> guard(scalerPoolLock_);
        if (!scalerPool_.empty()) {
            SwsContext* scaler = scalerPool_.front();
            scalerPool_.pop_front();
            return scaler;
        }
    }
    const AVCodecParameters* par = videoStream_->codecpar;
    SwsContext* scaler =
        sws_getContext(int(width_), int(height_), sourcePixelFormat(bytesPerPixel_, bgraOrder()), par->width,
                       par->height, encoder_->videoContext()->pix_fmt, 0, nullptr, nullptr, nullptr);
    if (scaler) {
        std::lock_guard<SpinLock> guard(scalerPoolLock_);
        ++scalersCreated_;
    }
    return scaler;
}

void VideoFormatWriterFFMPEG::returnScaler(SwsContext* scaler)
{
    std::lock_guard<SpinLock> guard(scalerPoolLock_);
    scalerPool_.push_back(scaler);
}

size_t VideoFormatWriterFFMPEG::scalerCount() const
{
    std::lock_guard<SpinLock> guard(scalerPoolLock_);
    return scalersCreated_;
}

size_t VideoFormatWriterFFMPEG::queuedVideoPackets() const
{
    std::lock_guard<std::mutex> guard(videoQueueLock_);
    return videoQueue_.size();
}

size_t VideoFormatWriterFFMPEG::queuedAudioPackets() const
{
    std::lock_guard<std::mutex> guard(audioQueueLock_);
    return audioQueue_.size();
}

void VideoFormatWriterFFMPEG::recordEncodeTime(double milliseconds)
{
    std::lock_guard<SpinLock> guard(encodeTimesLock_);
    if (encodeTimeCount_ < kEncodeTimeWindow)
        ++encodeTimeCount_;
    else
        encodeTimeSum_ -= encodeTimes_[encodeTimeNext_];
    encodeTimes_[encodeTimeNext_] = milliseconds;
    encodeTimeSum_ += milliseconds;
    encodeTimeNext_ = (encodeTimeNext_ + 1) % kEncodeTimeWindow;
}

void VideoFormatWriterFFMPEG::fail(std::string why)
{
    std::lock_guard<std::mutex> guard(failureLock_);
    if (failure_.empty())
        failure_ = std::move(why);
}

void VideoFormatWriterFFMPEG::failWrite(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    {
        std::lock_guard<std::mutex> guard(failureLock_);
        if (failure_.empty())
            failure_ = "writing \"" + path_ + "\" failed: " + text, writeFailure_ = text;
    }
    // The file cannot take more: later frames and sound are refused at once
    // instead of piling up behind the packet that was not written.
    writeFailed_.store(true, std::memory_order_release);
}

std::string VideoFormatWriterFFMPEG::failure() const
{
    std::lock_guard<std::mutex> guard(failureLock_);
    return failure_;
}

std::string VideoFormatWriterFFMPEG::writeFailure() const
{
    std::lock_guard<std::mutex> guard(failureLock_);
    return writeFailure_;
}

double VideoFormatWriterFFMPEG::getAverageEncodeTime() const
{
    std::lock_guard<SpinLock> guard(encodeTimesLock_);
    return encodeTimeCount_ ? encodeTimeSum_ / encodeTimeCount_ : 0.0;
}

bool VideoFormatWriterFFMPEG::attachPooledPicture(AVFrame* frame)
{
    // The same planes av_frame_get_buffer would give the frame, in one
    // buffer from a pool: a picture of every frame in flight is allocated
    // once, not once per frame.
    AVBufferRef* picture = av_buffer_pool_get(picturePool_);
    if (!picture)
        return false;
    if (av_image_fill_arrays(frame->data, frame->linesize, picture->data, AVPixelFormat(frame->format), frame->width,
                             frame->height, kPictureAlign) < 0) {
        av_buffer_unref(&picture);
        return false;
    }
    frame->buf[0] = picture;
    frame->extended_data = frame->data;
    return true;
}

bool VideoFormatWriterFFMPEG::writeFrame(uint64_t frameIndex, uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                                         uint64_t stride, const uint8_t* data)
{
    (void)bytesPerPixel;  // the source layout was fixed at construction
    if (!opened_ || !data || writeFailed_.load(std::memory_order_acquire))
        return false;
    // The scaler reads width_ × height_ pixels; a smaller buffer would be
    // read past its end.
    if (width < width_ || height < height_ || stride < uint64_t(width_) * bytesPerPixel_ ||
        stride > uint64_t(INT32_MAX))
        return false;

    AVCodecContext* context = encoder_->videoContext();
    const AVCodecParameters* par = videoStream_->codecpar;
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw std::bad_alloc();
    frame->format = context->pix_fmt;
    frame->width = par->width;
    frame->height = par->height;
    frame->color_range = par->color_range;
    frame->colorspace = par->color_space;
    frame->pts = int64_t(frameIndex);

    if (context->pix_fmt == sourcePixelFormat(bytesPerPixel_, bgraOrder()) && par->width == int(width_) &&
        par->height == int(height_)) {
        // The scaler would only copy the picture: the encoder reads the
        // caller's pixels instead, for the length of this call. The frame
        // owns no buffer, so an FFmpeg encoder that keeps frames takes its
        // own copy when it is handed one.
        frame->data[0] = const_cast<uint8_t*>(data);
        frame->linesize[0] = int(stride);
        frame->extended_data = frame->data;
    } else {
        if (!attachPooledPicture(frame.get()) || !frame->data[0] || av_frame_make_writable(frame.get()) < 0) {
            fail("no picture for frame " + std::to_string(frameIndex));
            return false;
        }
        // Each concurrent frame converts with its own scaling context; the
        // pool grows to the number of frames converted at once.
        SwsContext* scaler = takeScaler();
        if (!scaler) {
            fail("no pixel converter for frame " + std::to_string(frameIndex));
            return false;
        }
        const uint8_t* planes[4] = {data, nullptr, nullptr, nullptr};
        const int strides[4] = {int(stride), 0, 0, 0};
        int rows = sws_scale(scaler, planes, strides, 0, int(height_), frame->data, frame->linesize);
        returnScaler(scaler);
        if (rows <= 0) {
            fail("frame " + std::to_string(frameIndex) + " could not be converted");
            return false;
        }
    }

    bool failed = false;
    const double start = platform::monotonicMilliseconds();
    PacketList packets = encoder_->encodeVideo(frame.get(), videoStream_->index, videoStream_->time_base, failed);
    recordEncodeTime(platform::monotonicMilliseconds() - start);
    frame.reset();
    if (failed) {
        fail("frame " + std::to_string(frameIndex) + " could not be compressed");
        return false;
    }
    if (packets.empty())
        return true;
    queuePackets(packets, videoQueue_, videoQueueLock_);
    return writePendingPackets(false);
}

bool VideoFormatWriterFFMPEG::writeEncodedFrame(uint64_t frameIndex, const uint8_t* frame, size_t size)
{
    auto* custom = dynamic_cast<FFMPEGCustomEncoder*>(encoder_.get());
    if (!opened_ || !custom || writeFailed_.load(std::memory_order_acquire))
        return false;
    bool failed = false;
    PacketList packets =
        custom->borrowEncoded(frame, size, int64_t(frameIndex), videoStream_->index, videoStream_->time_base, failed);
    if (failed)
        return false;
    queuePackets(packets, videoQueue_, videoQueueLock_);
    return writePendingPackets(false);
}

}  // namespace nox
