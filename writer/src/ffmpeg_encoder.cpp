#include "writer/ffmpeg_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "ffmpeg.h"

namespace nox {

void PacketDeleter::operator()(AVPacket* packet) const { av_packet_free(&packet); }

namespace {

PacketPtr allocPacket()
{
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        throw std::bad_alloc();
    return packet;
}

AVPixelFormat pixelFormatFor(uint32_t bytesPerPixel)
{
    switch (bytesPerPixel) {
    case 2:
        return AV_PIX_FMT_GRAY16BE;
    case 8:
        return AV_PIX_FMT_RGBA64LE;
    default:
        return AV_PIX_FMT_RGBA;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// FFMPEGEncoder

FFMPEGEncoder::FFMPEGEncoder(const VideoStreamDescription& description) : description_(description) {}

FFMPEGEncoder::~FFMPEGEncoder()
{
    avcodec_free_context(&videoContext_);
    avcodec_free_context(&audioContext_);
}

void FFMPEGEncoder::setVideoContext(AVCodecContext* context)
{
    if (context != videoContext_)
        avcodec_free_context(&videoContext_);
    videoContext_ = context;
}

void FFMPEGEncoder::setAudioContext(AVCodecContext* context)
{
    if (context != audioContext_)
        avcodec_free_context(&audioContext_);
    audioContext_ = context;
}

std::vector<uint8_t> FFMPEGEncoder::convertAudio(const void*, uint32_t, uint32_t, uint32_t) const { return {}; }

const AVCodec* FFMPEGEncoder::findAudioCodec(uint32_t, uint32_t bytesPerSample, uint32_t)
{
    // The sample size alone decides; 3-byte and wider samples travel as
    // signed 32-bit.
    AVSampleFormat format = bytesPerSample == 1   ? AV_SAMPLE_FMT_U8
                            : bytesPerSample == 2 ? AV_SAMPLE_FMT_S16
                                                  : AV_SAMPLE_FMT_S32;
    return avcodec_find_encoder(av_get_pcm_codec(format, 0));
}

PacketList FFMPEGEncoder::encodeAudio(const AVFrame* frame, int streamIndex, AVRational streamTimeBase, bool& failed)
{
    failed = false;
    PacketList packets;
    if (!audioContext_)
        return packets;
    // A refused send (EAGAIN, or end of stream while draining) yields nothing.
    if (avcodec_send_frame(audioContext_, frame) < 0)
        return packets;
    for (;;) {
        PacketPtr packet = allocPacket();
        int r = avcodec_receive_packet(audioContext_, packet.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return packets;
        if (r < 0) {
            failed = true;
            return {};
        }
        // Stamped from the running sample position, not from the caller's
        // idea of where the chunk belongs: a lost chunk closes up instead of
        // leaving a hole.
        int64_t start = audioSamplePosition_.fetch_add(packet->duration);
        packet->pts = packet->dts =
            av_rescale_q_rnd(start, audioContext_->time_base, streamTimeBase, AV_ROUND_NEAR_INF);
        packet->duration = av_rescale_q(packet->duration, audioContext_->time_base, streamTimeBase);
        packet->stream_index = streamIndex;
        uint64_t sequence = audioPacketCounter_.fetch_add(1);
        packets.push_back({std::move(packet), sequence});
    }
}

// ---------------------------------------------------------------------------
// FFMPEGCustomEncoder

FFMPEGCustomEncoder::FFMPEGCustomEncoder(std::unique_ptr<Compressor> compressor)
    : FFMPEGEncoder(compressor->stream()), compressor_(std::move(compressor))
{
    payloadPool_ =
        av_buffer_pool_init(size_t(compressor_->outputBound()) + AV_INPUT_BUFFER_PADDING_SIZE, av_buffer_alloc);
    if (!payloadPool_)
        throw std::bad_alloc();
}

FFMPEGCustomEncoder::~FFMPEGCustomEncoder()
{
    compressor_.reset();
    // Payloads still held by packets return to the pool, which goes with
    // the last of them.
    av_buffer_pool_uninit(&payloadPool_);
}

bool FFMPEGCustomEncoder::isCustomCodec() const { return compressor_->isCustomCodec(); }

void FFMPEGCustomEncoder::configureVideoContext()
{
    videoContext_->codec_id = AV_CODEC_ID_NONE;
    // The FourCC keeps its first character in the most significant byte,
    // FFmpeg's tag in the least significant one: reversed, the four
    // characters reach the file in their written order.
    videoContext_->codec_tag = __builtin_bswap32(description_.fourCC);
    videoContext_->codec_type = AVMEDIA_TYPE_VIDEO;
    videoContext_->pix_fmt = pixelFormatFor(description_.bytesPerPixel);
}

PacketList FFMPEGCustomEncoder::encodeVideo(const AVFrame* frame, int streamIndex, AVRational streamTimeBase,
                                            bool& failed)
{
    failed = false;
    PacketList packets;
    if (!frame)
        return packets;  // every frame became its packet at once; nothing to drain
    if (!frame->data[0]) {
        failed = true;
        return packets;
    }
    // The compressor writes straight into the future packet payload, taken
    // from the pool: no copy afterwards and, once the first frames are in
    // the file, no allocation. Recycled payloads hold an earlier frame: the
    // compressor writes every byte of the frame it returns, and FFmpeg's
    // zeroed padding goes behind it. The rest of the payload is never read,
    // so it is not cleared (for a 4K frame that saves a pass over 8 MB).
    const uint32_t capacity = compressor_->outputBound();
    AVBufferRef* payload = av_buffer_pool_get(payloadPool_);
    if (!payload)
        throw std::bad_alloc();
    int32_t size = compressor_->compress(payload->data, frame->data[0], capacity, frame->pkt_size, frame->linesize[0]);
    if (size < 1 || uint32_t(size) > capacity) {
        av_buffer_unref(&payload);
        failed = true;
        return packets;
    }
    return framePacket(payload, size, frame->pts, streamIndex, streamTimeBase);
}

PacketList FFMPEGCustomEncoder::copyEncoded(size_t size, const std::function<bool(uint8_t*)>& fill, int64_t index,
                                            int streamIndex, AVRational streamTimeBase, bool& failed)
{
    failed = size == 0 || size > compressor_->outputBound();
    if (failed)
        return {};
    AVBufferRef* payload = av_buffer_pool_get(payloadPool_);
    if (!payload)
        throw std::bad_alloc();
    if (!fill(payload->data)) {
        av_buffer_unref(&payload);
        failed = true;
        return {};
    }
    return framePacket(payload, int32_t(size), index, streamIndex, streamTimeBase);
}

PacketList FFMPEGCustomEncoder::framePacket(AVBufferRef* payload, int32_t size, int64_t index, int streamIndex,
                                            AVRational streamTimeBase)
{
    std::memset(payload->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        av_buffer_unref(&payload);
        throw std::bad_alloc();
    }
    packet->buf = payload;
    packet->data = payload->data;
    packet->size = size;
    packet->pts = packet->dts = av_rescale_q_rnd(index, videoContext_->time_base, streamTimeBase, AV_ROUND_NEAR_INF);
    packet->duration = av_rescale_q(1, videoContext_->time_base, streamTimeBase);
    packet->stream_index = streamIndex;
    // No key-frame flag: with no flagged packet at all the muxer writes no
    // sync-sample table, which declares every frame of the track a sync
    // sample -- right for an intra-only codec.
    PacketList packets;
    packets.push_back({std::move(packet), uint64_t(index)});
    return packets;
}

// ---------------------------------------------------------------------------
// FFMPEGInternalEncoder

FFMPEGInternalEncoder::FFMPEGInternalEncoder(const VideoStreamDescription& description) : FFMPEGEncoder(description) {}

FFMPEGInternalEncoder::~FFMPEGInternalEncoder()
{
    for (auto& held : heldFrames_)
        av_frame_free(&held.second);
}

const AVCodec* FFMPEGInternalEncoder::findVideoCodec() const
{
    if (description_.fourCC == fourCC("gif "))
        return avcodec_find_encoder(AV_CODEC_ID_GIF);
    if (description_.fourCC == fourCC("h264"))
        return avcodec_find_encoder(AV_CODEC_ID_H264);
    return nullptr;
}

void FFMPEGInternalEncoder::configureVideoContext()
{
    if (description_.fourCC == fourCC("gif ")) {
        videoContext_->pix_fmt = AV_PIX_FMT_RGB8;
        return;
    }
    videoContext_->pix_fmt = AV_PIX_FMT_YUV420P;
    if (description_.fourCC != fourCC("h264"))
        return;
    // A negative rate factor means "no target": the encoder keeps its own
    // constant-quality default, which suits a general-purpose writer better
    // than a bit rate guessed from the picture size. A factor >= 0 scales the
    // bits of one 4:2:0 picture (12 per pixel) into bits per second, with a
    // floor of 1 %.
    const double pixels = double(description_.width) * double(description_.height);
    videoContext_->bit_rate =
        description_.rateFactor >= 0.0 ? int64_t(pixels * 12.0 * std::max(description_.rateFactor, 0.01)) : 0;
    // One key frame per key-frame interval, at least every frame.
    double rate = description_.frameRateDen ? double(description_.frameRateNum) / description_.frameRateDen : 0.0;
    double gop = std::floor(rate * description_.keyFrameInterval);
    videoContext_->gop_size = gop >= 1.0 ? int(std::min(gop, 10000.0)) : 1;
    videoContext_->max_b_frames = 1;
}

const AVCodec* FFMPEGInternalEncoder::findAudioCodec(uint32_t, uint32_t, uint32_t)
{
    if (description_.fourCC != fourCC("h264"))
        return nullptr;
    audioPassThrough_ = false;
    return avcodec_find_encoder(AV_CODEC_ID_AC3);
}

std::vector<uint8_t> FFMPEGInternalEncoder::convertAudio(const void* samples, uint32_t bytesPerSample, uint32_t count,
                                                         uint32_t channels) const
{
    if (!audioContext_ || audioContext_->sample_fmt != AV_SAMPLE_FMT_FLTP || channels != 2 || bytesPerSample != 4)
        return {};
    std::vector<uint8_t> out(size_t(count) * 2 * sizeof(float));
    auto* left = reinterpret_cast<float*>(out.data());
    float* right = left + count;
    const auto* in = static_cast<const uint8_t*>(samples);
    for (uint32_t i = 0; i < count; ++i) {
        int32_t l, r;
        std::memcpy(&l, in + size_t(i) * 8, 4);
        std::memcpy(&r, in + size_t(i) * 8 + 4, 4);
        left[i] = float(l) * 4.656613e-10f;
        right[i] = float(r) * 4.656613e-10f;
    }
    return out;
}

bool FFMPEGInternalEncoder::sendAndReceive(const AVFrame* frame, int streamIndex, AVRational streamTimeBase,
                                           PacketList& out)
{
    int r = avcodec_send_frame(videoContext_, frame);
    if (r < 0)
        return frame == nullptr;  // draining twice is not an error
    PacketList packets;
    for (;;) {
        PacketPtr packet = allocPacket();
        r = avcodec_receive_packet(videoContext_, packet.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            break;
        if (r < 0)
            return false;
        // Codec time base is one frame per tick.
        packet->duration = 1;
        packet->pts = av_rescale_q_rnd(packet->pts, videoContext_->time_base, streamTimeBase, AV_ROUND_NEAR_INF);
        packet->dts = av_rescale_q_rnd(packet->dts, videoContext_->time_base, streamTimeBase, AV_ROUND_NEAR_INF);
        packet->duration = av_rescale_q(packet->duration, videoContext_->time_base, streamTimeBase);
        packet->stream_index = streamIndex;
        packets.push_back({std::move(packet), videoPacketCounter_++});
    }
    for (auto& p : packets)
        out.push_back(std::move(p));
    return true;
}

PacketList FFMPEGInternalEncoder::encodeVideo(const AVFrame* frame, int streamIndex, AVRational streamTimeBase,
                                              bool& failed)
{
    failed = false;
    PacketList packets;
    std::lock_guard<std::mutex> guard(codecLock_);
    if (!videoContext_ || !avcodec_is_open(videoContext_)) {
        failed = frame != nullptr;
        return packets;
    }
    if (!frame) {
        // Frames still held wait for one that never came; they are dropped,
        // as the movie ends before the missing frame anyway.
        for (auto& held : heldFrames_)
            av_frame_free(&held.second);
        heldFrames_.clear();
        sendAndReceive(nullptr, streamIndex, streamTimeBase, packets);
        return packets;
    }
    if (frame->pts < nextFrame_ || heldFrames_.count(frame->pts)) {
        failed = true;  // an index given twice
        return packets;
    }
    if (frame->pts > nextFrame_) {
        AVFrame* held = av_frame_clone(frame);
        if (!held)
            throw std::bad_alloc();
        heldFrames_.emplace(frame->pts, held);
        return packets;
    }
    if (!sendAndReceive(frame, streamIndex, streamTimeBase, packets)) {
        failed = true;
        return {};
    }
    ++nextFrame_;
    // Feed the frames that were waiting for this one. A failure here belongs
    // to a frame whose own call has already returned; the gap it leaves stops
    // the movie there, as with any failed frame.
    for (auto it = heldFrames_.find(nextFrame_); it != heldFrames_.end(); it = heldFrames_.find(nextFrame_)) {
        AVFrame* next = it->second;
        heldFrames_.erase(it);
        bool ok = sendAndReceive(next, streamIndex, streamTimeBase, packets);
        av_frame_free(&next);
        if (!ok)
            break;
        ++nextFrame_;
    }
    return packets;
}

}  // namespace nox
