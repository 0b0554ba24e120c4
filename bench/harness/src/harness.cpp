#include "bench/harness.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include "codec/zemo3.h"
#include "media/sources.h"
#include "platform/platform.h"
#include "reader/frame_decoder.h"
#include "reader/texture.h"
#include "verify/quality.h"

namespace zemo3::bench {

const char* const kTextureNames[4] = {"dxt1", "dxt5", "ycg6", "yg10"};

const char* hapFormat(uint32_t type) { return type == 0 ? "hap" : type == 1 ? "hap_alpha" : "hap_q"; }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void Figures::setRate(const std::vector<Span>& runs, size_t frames)
{
    std::vector<double> wall, cpu;
    for (const Span& s : runs) {
        wall.push_back(s.wall);
        cpu.push_back(s.cpu);
    }
    fps = double(frames) / median(wall);
    cpuMs = median(cpu) * 1000.0 / double(frames);
}

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// CPU seconds used by every thread of the process so far.
double cpuNow() { return platform::processCpuSeconds(); }

template <typename F>
Span measure(F&& run)
{
    const double wall = now(), cpu = cpuNow();
    run();
    return {now() - wall, cpuNow() - cpu};
}

// Runs work(thread, frame) over every frame of the clip on `threads` threads,
// each taking the next frame as it finishes one.
Span runFrames(size_t frames, unsigned threads, const std::function<void(unsigned, size_t)>& work)
{
    std::atomic<size_t> next{0};
    auto loop = [&](unsigned t) {
        for (size_t i; (i = next.fetch_add(1)) < frames;)
            work(t, i);
    };
    return measure([&] {
        std::vector<std::thread> pool;
        for (unsigned t = 1; t < threads; ++t)
            pool.emplace_back(loop, t);
        loop(0);
        for (auto& t : pool)
            t.join();
    });
}

// The clip as the host renders it for the module: 8-bit ARGB pictures taken
// in turn, over and over; no sound.
class ClipFeed : public emulated_host::RenderFeed {
public:
    ClipFeed(const Clip& argb, uint32_t width) : argb_(argb), width_(width) {}
    bool picture(uint64_t n, const uint8_t** argb, size_t* rowBytes) override
    {
        *argb = argb_[n % argb_.size()].data();
        *rowBytes = size_t(width_) * 4;
        return true;
    }

private:
    const Clip& argb_;
    uint32_t width_;
};

// A media source's pictures as the host renders them for the module, in
// order; no sound.
class SourceFeed : public emulated_host::RenderFeed {
public:
    explicit SourceFeed(Source& source) : source_(source) {}
    bool picture(uint64_t n, const uint8_t** argb, size_t* rowBytes) override
    {
        SourcePicture picture;
        if (!source_.frame(n, &picture))
            return false;
        *argb = picture.data;
        *rowBytes = picture.rowBytes;
        return true;
    }

private:
    Source& source_;
};

}  // namespace

// ------------------------------------------------------------------ ours

bool OursBench::time(const Clip& clip, unsigned threads, int repeat, Figures* f, std::string* error) const
{
    nox::VideoStreamDescription stream(width_, height_, 25, 1, nullptr);
    std::vector<std::unique_ptr<nox::Zemo3Compressor>> compressors(threads);
    std::vector<std::vector<uint8_t>> destinations;
    std::vector<Span> runs;
    std::atomic<uint64_t> bytes{0};
    std::atomic<bool> failed{false};
    for (int r = 0; r < repeat; ++r) {
        // New compressors each run: the best tier's tile memories start
        // empty, as in an export of these frames, not warmed by the clip's
        // last run.
        for (unsigned t = 0; t < threads; ++t) {
            compressors[t] = std::make_unique<nox::Zemo3Compressor>(stream, type_, false);
            if (destinations.size() < threads)
                destinations.emplace_back(compressors[t]->outputBound());
        }
        bytes = 0;
        runs.push_back(runFrames(clip.size(), threads, [&](unsigned t, size_t i) {
            std::vector<uint8_t>& d = destinations[t];
            // As the export does it: a zero-filled destination per frame.
            std::memset(d.data(), 0, d.size());
            const int32_t n =
                compressors[t]->compress(d.data(), clip[i].data(), uint32_t(d.size()), int32_t(i), int32_t(width_ * 4));
            if (n <= 0)
                failed = true;
            bytes += uint64_t(std::max(n, 0));
        }));
    }
    if (failed) {
        *error = "the compressor failed a frame of type " + std::to_string(type_);
        return false;
    }
    f->setRate(runs, clip.size());
    f->bytesPerFrame = double(bytes) / double(clip.size());
    return true;
}

bool OursBench::quality(const Clip& clip, Quality* q, std::string* error) const
{
    nox::VideoStreamDescription stream(width_, height_, 25, 1, nullptr);
    nox::Zemo3Compressor compressor(stream, type_, false);
    nox::FrameDecoder decoder(type_, width_, height_);
    std::vector<uint8_t> frame(compressor.outputBound()), texture(decoder.textureBytes()),
        rgba(size_t(width_) * height_ * 4);
    QualityTotals err;
    for (const auto& picture : clip) {
        std::fill(frame.begin(), frame.end(), 0);
        const int32_t n =
            compressor.compress(frame.data(), picture.data(), uint32_t(frame.size()), 0, int32_t(width_ * 4));
        if (n <= 0 || !nox::decode(decoder, texture.data(), frame.data(), size_t(n), texture.size()) ||
            !nox::textureToRgba(type_, texture.data(), texture.size(), width_, height_, rgba.data(),
                                size_t(width_) * 4)) {
            *error = "a frame of type " + std::to_string(type_) + " does not decode";
            return false;
        }
        err.add(err.frames, comparePictures(rgba.data(), picture.data(), width_, height_, size_t(width_) * 4, false));
    }
    q->colour = err.psnrAll();
    q->alpha = nox::typeHasAlpha(type_) ? err.psnr(3) : NAN;
    q->ssim = err.ssim();
    return true;
}

// ------------------------------------------------------------------- HAP

struct CodecContext {
    AVCodecContext* ctx = nullptr;
    AVPacket* packet = av_packet_alloc();
    ~CodecContext()
    {
        av_packet_free(&packet);
        avcodec_free_context(&ctx);
    }
};

std::string HapBench::unavailable() const
{
    CodecContext c;
    std::string why;
    return open(&c, &why) ? std::string() : why;
}

bool HapBench::time(const std::vector<AVFrame*>& frames, unsigned threads, int repeat, Figures* f,
                    std::string* error) const
{
    std::vector<std::unique_ptr<CodecContext>> contexts;
    for (unsigned t = 0; t < threads; ++t) {
        contexts.push_back(std::make_unique<CodecContext>());
        if (!open(contexts.back().get(), error))
            return false;
    }
    std::vector<Span> runs;
    std::atomic<uint64_t> bytes{0};
    std::atomic<bool> failed{false};
    std::vector<int64_t> pts(threads, 0);
    for (int r = 0; r < repeat; ++r) {
        bytes = 0;
        runs.push_back(runFrames(frames.size(), threads, [&](unsigned t, size_t i) {
            CodecContext& c = *contexts[t];
            // The pictures are shared; each send takes its own reference.
            AVFrame* frame = av_frame_clone(frames[i]);
            if (!frame) {
                failed = true;
                return;
            }
            frame->pts = pts[t]++;
            if (avcodec_send_frame(c.ctx, frame) < 0 || avcodec_receive_packet(c.ctx, c.packet) < 0)
                failed = true;
            else
                bytes += uint64_t(c.packet->size);
            av_packet_unref(c.packet);
            av_frame_free(&frame);
        }));
    }
    if (failed) {
        *error = std::string("FFmpeg's HAP encoder failed a frame (") + hapFormat(type_) + ")";
        return false;
    }
    f->setRate(runs, frames.size());
    f->bytesPerFrame = double(bytes) / double(frames.size());
    return true;
}

double HapBench::decodeMs(const std::vector<AVFrame*>& frames) const
{
    CodecContext enc, dec;
    const AVCodec* decoder = avcodec_find_decoder_by_name("hap");
    std::string error;
    if (!decoder || !open(&enc, &error) || !(dec.ctx = avcodec_alloc_context3(decoder)))
        return -1;
    std::vector<AVPacket*> packets;
    for (AVFrame* frame : frames) {
        if (avcodec_send_frame(enc.ctx, frame) < 0 || avcodec_receive_packet(enc.ctx, enc.packet) < 0)
            break;
        packets.push_back(av_packet_clone(enc.packet));
        av_packet_unref(enc.packet);
    }
    dec.ctx->width = int(width_);
    dec.ctx->height = int(height_);
    dec.ctx->thread_count = 1;
    dec.ctx->codec_tag = enc.ctx->codec_tag;
    AVFrame* decoded = av_frame_alloc();
    double ms = -1;
    if (decoded && !packets.empty() && packets.size() == frames.size() &&
        avcodec_open2(dec.ctx, decoder, nullptr) >= 0) {
        const auto start = std::chrono::steady_clock::now();
        for (AVPacket* packet : packets)
            if (avcodec_send_packet(dec.ctx, packet) >= 0 && avcodec_receive_frame(dec.ctx, decoded) >= 0)
                av_frame_unref(decoded);
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
             double(packets.size());
    }
    av_frame_free(&decoded);
    for (AVPacket*& packet : packets)
        av_packet_free(&packet);
    return ms;
}

bool HapBench::quality(const Clip& clip, const std::vector<AVFrame*>& frames, Quality* q, std::string* error) const
{
    CodecContext enc, dec;
    const AVCodec* decoder = avcodec_find_decoder_by_name("hap");
    if (!open(&enc, error))
        return false;
    dec.ctx = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    if (!dec.ctx) {
        *error = "FFmpeg has no HAP decoder";
        return false;
    }
    dec.ctx->width = int(width_);
    dec.ctx->height = int(height_);
    dec.ctx->thread_count = 1;
    // The decoder learns the texture format from the tag the encoder chose.
    dec.ctx->codec_tag = enc.ctx->codec_tag;
    AVFrame* decoded = av_frame_alloc();
    std::vector<uint8_t> rgba(size_t(width_) * height_ * 4);
    QualityTotals err;
    bool alpha = false;
    bool ok = decoded && avcodec_open2(dec.ctx, decoder, nullptr) >= 0;
    for (size_t i = 0; ok && i < frames.size(); ++i) {
        ok = avcodec_send_frame(enc.ctx, frames[i]) >= 0 && avcodec_receive_packet(enc.ctx, enc.packet) >= 0 &&
             avcodec_send_packet(dec.ctx, enc.packet) >= 0 && avcodec_receive_frame(dec.ctx, decoded) >= 0 &&
             decoded->width == int(width_) && decoded->height == int(height_) &&
             (decoded->format == AV_PIX_FMT_RGBA || decoded->format == AV_PIX_FMT_RGB0);
        av_packet_unref(enc.packet);
        if (!ok)
            break;
        alpha = decoded->format == AV_PIX_FMT_RGBA;
        for (uint32_t y = 0; y < height_; ++y) {
            const uint8_t* s = decoded->data[0] + size_t(y) * size_t(decoded->linesize[0]);
            uint8_t* d = rgba.data() + size_t(y) * width_ * 4;
            std::memcpy(d, s, size_t(width_) * 4);
            if (!alpha)
                for (uint32_t x = 0; x < width_; ++x)
                    d[x * 4 + 3] = 255;
        }
        av_frame_unref(decoded);
        err.add(i, comparePictures(rgba.data(), clip[i].data(), width_, height_, size_t(width_) * 4, false));
    }
    av_frame_free(&decoded);
    if (!ok) {
        *error = std::string("FFmpeg's HAP round trip failed (") + hapFormat(type_) + ")";
        return false;
    }
    q->colour = err.psnrAll();
    q->alpha = alpha ? err.psnr(3) : NAN;
    q->ssim = err.ssim();
    return true;
}

AVCodecContext* openHapEncoder(uint32_t type, uint32_t width, uint32_t height, int fps, std::string* error)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("hap");
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!ctx) {
        *error = "FFmpeg has no HAP encoder";
        return nullptr;
    }
    ctx->width = int(width);
    ctx->height = int(height);
    ctx->pix_fmt = AV_PIX_FMT_RGBA;
    ctx->time_base = AVRational{1, fps};
    ctx->thread_count = 1;
    av_opt_set(ctx->priv_data, "format", hapFormat(type), 0);
    av_opt_set(ctx->priv_data, "compressor", "snappy", 0);
    av_opt_set_int(ctx->priv_data, "chunks", 1, 0);
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        *error = "FFmpeg's HAP encoder does not take " + std::to_string(width) + "x" + std::to_string(height);
        avcodec_free_context(&ctx);
    }
    return ctx;
}

bool HapBench::open(CodecContext* c, std::string* error) const
{
    c->ctx = openHapEncoder(type_, width_, height_, 25, error);
    if (c->ctx && !c->packet)
        *error = "out of memory";
    return c->ctx && c->packet;
}

AvClip::~AvClip()
{
    for (AVFrame*& f : frames)
        av_frame_free(&f);
}

bool AvClip::fill(const Clip& clip, uint32_t width, uint32_t height)
{
    for (const auto& picture : clip) {
        AVFrame* f = av_frame_alloc();
        if (!f)
            return false;
        frames.push_back(f);
        f->format = AV_PIX_FMT_RGBA;
        f->width = int(width);
        f->height = int(height);
        if (av_frame_get_buffer(f, 0) < 0)
            return false;
        for (uint32_t y = 0; y < height; ++y)
            std::memcpy(f->data[0] + size_t(y) * size_t(f->linesize[0]), picture.data() + size_t(y) * width * 4,
                        size_t(width) * 4);
    }
    return true;
}

// ---------------------------------------------------------------- export

std::vector<uint8_t> toArgb(const std::vector<uint8_t>& rgba)
{
    std::vector<uint8_t> argb(rgba.size());
    for (size_t i = 0; i + 4 <= rgba.size(); i += 4) {
        argb[i] = rgba[i + 3];
        std::memcpy(&argb[i + 1], &rgba[i], 3);
    }
    return argb;
}

emulated_host::RenderResult exportClip(emulated_host::ModuleSession& session, const emulated_host::RenderJob& job,
                                       const Clip& argb)
{
    ClipFeed feed(argb, job.width);
    return session.render(job, feed);
}

emulated_host::RenderResult exportSource(emulated_host::ModuleSession& session, const emulated_host::RenderJob& job,
                                         Source& source)
{
    SourceFeed feed(source);
    return session.render(job, feed);
}

bool timeExport(emulated_host::ModuleSession& session, uint32_t type, const Clip& argb, size_t frames, uint32_t width,
                uint32_t height, const std::string& path, int repeat, Figures* f, std::string* error)
{
    emulated_host::RenderJob job;
    job.path = path;
    job.width = width;
    job.height = height;
    job.formatType = type;
    job.frameLimit = frames;
    std::vector<Span> runs;
    for (int r = -1; r < repeat; ++r) {
        const emulated_host::RenderResult result = exportClip(session, job, argb);
        if (r >= 0)
            runs.push_back({result.seconds, result.cpuSeconds});
        f->bytesPerFrame = double(platform::fileSize(path).value_or(0)) / double(frames);
        platform::removeFile(path);
        const std::vector<std::string>& hostErrors = session.errors();
        if (result.failed != emulated_host::RenderStep::Done || !hostErrors.empty()) {
            *error = "the export of type " + std::to_string(type) + " failed (error " + std::to_string(result.err) +
                     (hostErrors.empty() ? ")" : "; host: " + hostErrors.front() + ")");
            return false;
        }
    }
    f->setRate(runs, frames);
    return true;
}

}  // namespace zemo3::bench
