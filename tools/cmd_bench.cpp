// zemo3 bench: our frame compressor against FFmpeg's HAP encoder on the same
// frames, on one thread and on all of them, with the size and quality each
// gets, and the end-to-end export rate through the emulated host.
//
// Both sides get the same kind of parallelism: N threads, each encoding whole
// frames with its own encoder instance (HAP's contexts run with one thread
// each, so its own chunk threading plays no part). Rates are medians of
// --repeat runs over the whole clip; PSNR comes from one untimed pass, ours
// decoded by the frame reader and texture decoder, HAP's by FFmpeg's decoder.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include "cli.h"
#include "codec/zemo3.h"
#include "commands.h"
#include "content/content.h"
#include "core/simd.h"
#include "emulated_host/render.h"
#include "platform/platform.h"
#include "reader/frame_decoder.h"
#include "reader/texture.h"
#include "verify/quality.h"

namespace {

using namespace zemo3;
using Clip = std::vector<std::vector<uint8_t>>;

const char* kUsage =
    "usage: zemo3 bench [--size WxH] [--frames N] [--threads N] [--content NAMES] [--types LIST]\n"
    "                   [--repeat N] [--kernel LEVEL] [--no-hap] [--no-render] [--export-frames N]\n"
    "                   [--module PATH]\n"
    "\n"
    "Times the Zemo 3 compressor against FFmpeg's HAP encoder on the same clip, on\n"
    "one thread and on N, and the export through the plug-in in the emulated host.\n"
    "  --size WxH      picture size (default 1920x1080)\n"
    "  --frames N      frames in the clip (default 16)\n"
    "  --threads N     threads of the multi-threaded runs (default: all cores)\n"
    "  --content NAMES comma-separated, taken in turn: testsrc2, mandelbrot,\n"
    "                  smptehdbars, photo, noise (default: all but noise)\n"
    "  --types LIST    format types, comma-separated (default 0,1,2,3); HAP peers:\n"
    "                  0 hap, 1 hap_alpha, 2 and 3 hap_q\n"
    "  --repeat N      runs per figure; the median is printed (default 3)\n"
    "  --kernel LEVEL  cap the instruction set: scalar, sse2, sse41, avx2 or avx512\n"
    "  --no-hap        leave out the HAP rows\n"
    "  --no-render     leave out the export through the emulated host\n"
    "  --export-frames N  frames per timed export, the clip over and over\n"
    "                  (default 96: a movie long enough that opening and closing\n"
    "                  it weigh little, as in a real export)\n"
    "  --module PATH   the plug-in module to export through\n"
    "\n"
    "Each row: frames per second (median wall time), CPU milliseconds a frame took\n"
    "on all threads together, bytes per frame, and PSNR of the decoded clip\n"
    "against the source: R, G and B together, and alpha for the types that keep it\n"
    "(hap_q keeps none). Ours is decoded by the frame reader, HAP by FFmpeg.\n"
    "The export is expected to reach 0.90 of the compressor's rate on N threads;\n"
    "a missed target is reported, not an error. Exit codes: 0 done, 1 an encoder\n"
    "or the export failed, 2 bad arguments.\n";

constexpr double kRenderTarget = 0.90;

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// CPU seconds used by every thread of the process so far.
double cpuNow() { return platform::processCpuSeconds(); }

// Wall and CPU seconds of one timed run.
struct Span {
    double wall = 0, cpu = 0;
};

template <typename F>
Span measure(F&& run)
{
    const double wall = now(), cpu = cpuNow();
    run();
    return {now() - wall, cpuNow() - cpu};
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool keepsAlpha(uint32_t type) { return type == 1 || type == 3; }

const char* const kTextureNames[4] = {"dxt1", "dxt5", "ycg6", "yg10"};

const char* hapFormat(uint32_t type) { return type == 0 ? "hap" : type == 1 ? "hap_alpha" : "hap_q"; }

// Squared errors over a clip: R, G and B together, and A apart.
struct ErrorSum {
    double colour = 0, alpha = 0, pixels = 0;

    void add(const uint8_t* decoded, const uint8_t* source, size_t count)
    {
        uint64_t c = 0, a = 0;
        for (size_t i = 0; i < count * 4; i += 4) {
            for (size_t k = 0; k < 3; ++k) {
                const int e = int(decoded[i + k]) - int(source[i + k]);
                c += uint64_t(e * e);
            }
            const int e = int(decoded[i + 3]) - int(source[i + 3]);
            a += uint64_t(e * e);
        }
        colour += double(c);
        alpha += double(a);
        pixels += double(count);
    }
    double colourPsnr() const { return psnrFromMse(pixels > 0 ? colour / (3 * pixels) : 0); }
    double alphaPsnr() const { return psnrFromMse(pixels > 0 ? alpha / pixels : 0); }
};

// PSNR of a clip in dB; alpha is NaN when the encoder keeps none.
struct Quality {
    double colour = 0, alpha = NAN;
};

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

// Frames per second from the median wall time of the runs, and the CPU time
// a frame took (median), which a busy machine blurs much less.
struct Figures {
    double fps = 0;
    double cpuMs = 0;
    double bytesPerFrame = 0;

    void setRate(const std::vector<Span>& runs, size_t frames)
    {
        std::vector<double> wall, cpu;
        for (const Span& s : runs) {
            wall.push_back(s.wall);
            cpu.push_back(s.cpu);
        }
        fps = double(frames) / median(wall);
        cpuMs = median(cpu) * 1000.0 / double(frames);
    }
};

// ------------------------------------------------------------------ ours

class Ours {
public:
    Ours(uint32_t type, uint32_t width, uint32_t height) : type_(type), width_(width), height_(height) {}

    bool time(const Clip& clip, unsigned threads, int repeat, Figures* f, std::string* error) const
    {
        nox::VideoStreamDescription stream(width_, height_, 25, 1, nullptr);
        std::vector<std::unique_ptr<nox::Zemo3Compressor>> compressors;
        std::vector<std::vector<uint8_t>> destinations;
        for (unsigned t = 0; t < threads; ++t) {
            compressors.push_back(std::make_unique<nox::Zemo3Compressor>(stream, type_, false));
            destinations.emplace_back(compressors.back()->outputBound());
        }
        std::vector<Span> runs;
        std::atomic<uint64_t> bytes{0};
        std::atomic<bool> failed{false};
        for (int r = 0; r < repeat; ++r) {
            bytes = 0;
            runs.push_back(runFrames(clip.size(), threads, [&](unsigned t, size_t i) {
                std::vector<uint8_t>& d = destinations[t];
                // As the export does it: a zero-filled destination per frame.
                std::memset(d.data(), 0, d.size());
                const int32_t n = compressors[t]->compress(d.data(), clip[i].data(), uint32_t(d.size()), int32_t(i),
                                                           int32_t(width_ * 4));
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

    // PSNR of the clip after a round trip through the frame reader.
    bool quality(const Clip& clip, Quality* q, std::string* error) const
    {
        nox::VideoStreamDescription stream(width_, height_, 25, 1, nullptr);
        nox::Zemo3Compressor compressor(stream, type_, false);
        nox::FrameDecoder decoder(type_, width_, height_);
        std::vector<uint8_t> frame(compressor.outputBound()), texture(decoder.textureBytes()),
            rgba(size_t(width_) * height_ * 4);
        ErrorSum err;
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
            err.add(rgba.data(), picture.data(), size_t(width_) * height_);
        }
        q->colour = err.colourPsnr();
        q->alpha = keepsAlpha(type_) ? err.alphaPsnr() : NAN;
        return true;
    }

private:
    uint32_t type_, width_, height_;
};

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

class Hap {
public:
    Hap(uint32_t type, uint32_t width, uint32_t height) : type_(type), width_(width), height_(height) {}

    // Empty when FFmpeg can encode this type; otherwise why not.
    std::string unavailable() const
    {
        CodecContext c;
        std::string why;
        return open(&c, &why) ? std::string() : why;
    }

    bool time(const std::vector<AVFrame*>& frames, unsigned threads, int repeat, Figures* f, std::string* error) const
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

    // PSNR of the clip after FFmpeg's HAP decoder.
    bool quality(const Clip& clip, const std::vector<AVFrame*>& frames, Quality* q, std::string* error) const
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
        ErrorSum err;
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
            err.add(rgba.data(), clip[i].data(), size_t(width_) * height_);
        }
        av_frame_free(&decoded);
        if (!ok) {
            *error = std::string("FFmpeg's HAP round trip failed (") + hapFormat(type_) + ")";
            return false;
        }
        q->colour = err.colourPsnr();
        q->alpha = alpha ? err.alphaPsnr() : NAN;
        return true;
    }

private:
    // One thread per context, HAP's default second stage (Snappy) in one chunk.
    bool open(CodecContext* c, std::string* error) const
    {
        const AVCodec* codec = avcodec_find_encoder_by_name("hap");
        c->ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!c->ctx || !c->packet) {
            *error = "FFmpeg has no HAP encoder";
            return false;
        }
        c->ctx->width = int(width_);
        c->ctx->height = int(height_);
        c->ctx->pix_fmt = AV_PIX_FMT_RGBA;
        c->ctx->time_base = AVRational{1, 25};
        c->ctx->thread_count = 1;
        av_opt_set(c->ctx->priv_data, "format", hapFormat(type_), 0);
        if (avcodec_open2(c->ctx, codec, nullptr) < 0) {
            *error = "FFmpeg's HAP encoder does not take " + std::to_string(width_) + "x" + std::to_string(height_);
            return false;
        }
        return true;
    }

    uint32_t type_, width_, height_;
};

// The clip as AVFrames for the HAP encoder; freed with the list.
struct AvClip {
    std::vector<AVFrame*> frames;
    ~AvClip()
    {
        for (AVFrame*& f : frames)
            av_frame_free(&f);
    }
    bool fill(const Clip& clip, uint32_t width, uint32_t height)
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
};

// ---------------------------------------------------------------- export

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

// Exports `frames` frames of the clip into path through the module of the
// session, repeat times after one untimed run that warms the module up (its
// worker pool, memory pool and the writer's buffers). Rate from StartAdding
// to the end of EndAdding, which closes the movie.
bool timeExport(emulated_host::ModuleSession& session, uint32_t type, const Clip& argb, size_t frames, uint32_t width,
                uint32_t height, const std::string& path, int repeat, Figures* f, std::string* error)
{
    emulated_host::RenderJob job;
    job.path = path;
    job.width = width;
    job.height = height;
    job.formatType = type;
    job.frameLimit = frames;
    ClipFeed feed(argb, width);
    std::vector<Span> runs;
    for (int r = -1; r < repeat; ++r) {
        const emulated_host::RenderResult result = session.render(job, feed);
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

// ----------------------------------------------------------------- command

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> items;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        items.push_back(item);
    return items;
}

std::string formatNumber(double v, int decimals)
{
    if (std::isnan(v))
        return "-";
    if (std::isinf(v))
        return "inf";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

void printRow(uint32_t type, const std::string& encoder, unsigned threads, const Figures& f, const Quality& q)
{
    std::printf("%-4u  %-10s %7u  %9s  %8.2f  %11.0f  %8s  %8s\n", type, encoder.c_str(), threads,
                formatNumber(f.fps, 2).c_str(), f.cpuMs, f.bytesPerFrame, formatNumber(q.colour, 2).c_str(),
                formatNumber(q.alpha, 2).c_str());
}

std::string ratio(double a, double b) { return b > 0 ? formatNumber(a / b, 2) : "-"; }

// What the arguments ask for.
struct Options {
    uint32_t width = 1920, height = 1080;
    uint64_t frames = 16, threads = std::max(1u, std::thread::hardware_concurrency()), repeat = 3;
    uint64_t exportFrames = 96;
    std::vector<std::string> contents = content::naturalContentNames();
    std::vector<uint32_t> types{0, 1, 2, 3};
    bool withHap = true, withRender = true;
    std::string module;
};

// EXIT_OK, or the code of the argument that does not do (said on stderr).
int readOptions(const Args& args, Options* o)
{
    if (!args.positional.empty())
        return fail(EXIT_USAGE, "bench: unexpected argument '" + args.positional[0] + "'");
    std::string why;
    if (args.has("--size") && !parseSizeText(args.get("--size"), &o->width, &o->height, &why))
        return fail(EXIT_USAGE, "bench: " + why);
    if (args.has("--frames") && (!parseUint(args.get("--frames"), 100000, &o->frames) || o->frames == 0))
        return fail(EXIT_USAGE, "bench: --frames must be a number from 1 to 100000");
    if (args.has("--threads") && (!parseUint(args.get("--threads"), 256, &o->threads) || o->threads == 0))
        return fail(EXIT_USAGE, "bench: --threads must be a number from 1 to 256");
    if (args.has("--repeat") && (!parseUint(args.get("--repeat"), 1000, &o->repeat) || o->repeat == 0))
        return fail(EXIT_USAGE, "bench: --repeat must be a number from 1 to 1000");
    if (args.has("--export-frames") &&
        (!parseUint(args.get("--export-frames"), 100000, &o->exportFrames) || o->exportFrames == 0))
        return fail(EXIT_USAGE, "bench: --export-frames must be a number from 1 to 100000");
    if (args.has("--content")) {
        o->contents = splitList(args.get("--content"));
        for (const std::string& c : o->contents)
            if (!content::isContentName(c))
                return fail(EXIT_USAGE, "bench: unknown content '" + c + "' (see zemo3 bench --help)");
        if (o->contents.empty())
            return fail(EXIT_USAGE, "bench: --content needs a name");
    }
    if (args.has("--types")) {
        o->types.clear();
        for (const std::string& t : splitList(args.get("--types"))) {
            uint64_t v = 0;
            if (!parseUint(t, 3, &v))
                return fail(EXIT_USAGE, "bench: --types takes format types 0 to 3, e.g. 0,2");
            if (std::find(o->types.begin(), o->types.end(), uint32_t(v)) == o->types.end())
                o->types.push_back(uint32_t(v));
        }
        if (o->types.empty())
            return fail(EXIT_USAGE, "bench: --types needs a format type");
    }
    if (args.has("--kernel")) {
        const std::string name = args.get("--kernel");
        const std::optional<nox::SimdLevel> level = nox::parseSimdLevel(name);
        if (!level)
            return fail(EXIT_USAGE, "bench: --kernel must be scalar, sse2, sse41, avx2 or avx512");
        // The module in the host has its own encoders: it reads the cap from
        // the environment when it first encodes.
        platform::setEnvironment("ZEMO_KERNEL", name);
        nox::capSimdLevel(*level);
    }
    o->withHap = !args.has("--no-hap");
    o->withRender = !args.has("--no-render");
    o->module = args.get("--module", emulated_host::defaultModulePath());
    return EXIT_OK;
}

// The clip in every form the rows need, and the module for the export.
struct Material {
    Clip clip;      // RGBA
    AvClip avClip;  // for HAP
    Clip argb;      // for the export, as the host renders
    std::unique_ptr<emulated_host::ModuleSession> session;
    std::string moviePath;
};

bool prepare(const Options& o, Material* m, std::string* error)
{
    std::fprintf(stderr, "bench: rendering %llu frames of %ux%u...\n", (unsigned long long)o.frames, o.width, o.height);
    if (!content::renderClip(o.contents, o.width, o.height, o.frames, &m->clip, error))
        return false;
    if (o.withHap && !m->avClip.fill(m->clip, o.width, o.height)) {
        *error = "out of memory";
        return false;
    }
    if (!o.withRender)
        return true;
    for (const auto& rgba : m->clip) {
        m->argb.emplace_back(rgba.size());
        for (size_t i = 0; i < rgba.size(); i += 4) {
            m->argb.back()[i] = rgba[i + 3];
            std::memcpy(&m->argb.back()[i + 1], &rgba[i], 3);
        }
    }
    m->session = std::make_unique<emulated_host::ModuleSession>();
    if (m->session->open(o.module, error) != emulated_host::RenderStep::Done)
        return false;
    m->moviePath = platform::temporaryFolder() + "/zemo3-bench-" + std::to_string(platform::processId()) + ".mov";
    return true;
}

void printHeader(const Options& o)
{
    std::string names;
    for (const std::string& c : o.contents)
        names += (names.empty() ? "" : ", ") + c;
    const double load = platform::loadAverage();
    char loadText[16] = "unknown";
    if (load >= 0)
        std::snprintf(loadText, sizeof loadText, "%.2f", load);
    std::printf("zemo3 bench: %llu frames of %ux%u (%s), median of %llu runs\n", (unsigned long long)o.frames, o.width,
                o.height, names.c_str(), (unsigned long long)o.repeat);
    std::printf("kernel %s, %u cores, load average %s at start\n", nox::simdLevelName(nox::activeSimdLevel()),
                std::thread::hardware_concurrency(), loadText);
    if (o.withHap)
        std::printf("HAP: FFmpeg's encoder, one frame per thread, Snappy second stage in one chunk\n");
    std::printf("\n%-4s  %-10s %7s  %9s  %8s  %11s  %8s  %8s\n", "type", "encoder", "threads", "fps", "cpu ms",
                "bytes/frame", "PSNR RGB", "PSNR A");
}

// One format type's figures: ours and HAP's on one thread and on N, and the export.
struct Summary {
    uint32_t type;
    Figures ours[2], hap[2], render;
    bool hasHap = false, hasRender = false;
};

// Measures one type and prints its rows.
bool benchType(const Options& o, Material& m, const std::vector<unsigned>& threadCounts, Summary* s, std::string* error)
{
    const uint32_t type = s->type;
    Ours ours(type, o.width, o.height);
    Quality quality;
    if (!ours.quality(m.clip, &quality, error))
        return false;
    for (size_t k = 0; k < threadCounts.size(); ++k) {
        if (!ours.time(m.clip, threadCounts[k], int(o.repeat), &s->ours[k], error))
            return false;
        printRow(type, std::string("zemo3 ") + kTextureNames[type], threadCounts[k], s->ours[k], quality);
        std::fflush(stdout);
    }
    Hap hap(type, o.width, o.height);
    const std::string why = o.withHap ? hap.unavailable() : "";
    if (o.withHap && !why.empty())
        std::printf("%-4u  HAP rows left out: %s\n", type, why.c_str());
    if (o.withHap && why.empty()) {
        s->hasHap = true;
        if (!hap.quality(m.clip, m.avClip.frames, &quality, error))
            return false;
        for (size_t k = 0; k < threadCounts.size(); ++k) {
            if (!hap.time(m.avClip.frames, threadCounts[k], int(o.repeat), &s->hap[k], error))
                return false;
            printRow(type, hapFormat(type), threadCounts[k], s->hap[k], quality);
            std::fflush(stdout);
        }
    }
    s->hasRender = m.session != nullptr;
    return !m.session || timeExport(*m.session, type, m.argb, size_t(o.exportFrames), o.width, o.height, m.moviePath,
                                    int(o.repeat), &s->render, error);
}

void printSummaries(const std::vector<Summary>& summaries, const std::vector<unsigned>& threadCounts, bool withRender)
{
    const size_t all = threadCounts.size() - 1;
    const std::string n = std::to_string(threadCounts.back());
    std::printf("\nspeed of ours against HAP (above 1: ours is faster)%s\n",
                withRender ? "; export through the emulated host with the module's own workers" : "");
    std::printf("%-4s  %10s  %10s  %10s  %14s  %14s  target %.2f\n", "type", "ours/HAP 1", ("ours/HAP " + n).c_str(),
                "export fps", "export cpu ms", ("export/ours " + n).c_str(), kRenderTarget);
    for (const Summary& s : summaries) {
        const std::string exportRatio = s.hasRender ? ratio(s.render.fps, s.ours[all].fps) : "-";
        const bool met = s.hasRender && s.ours[all].fps > 0 && s.render.fps / s.ours[all].fps >= kRenderTarget;
        std::printf("%-4u  %10s  %10s  %10s  %14s  %14s  %s\n", s.type,
                    s.hasHap ? ratio(s.ours[0].fps, s.hap[0].fps).c_str() : "-",
                    s.hasHap ? ratio(s.ours[all].fps, s.hap[all].fps).c_str() : "-",
                    s.hasRender ? formatNumber(s.render.fps, 2).c_str() : "-",
                    s.hasRender ? formatNumber(s.render.cpuMs, 2).c_str() : "-", exportRatio.c_str(),
                    !s.hasRender ? "-"
                    : met        ? "met"
                                 : "missed");
    }
}

int cmdBench(const std::vector<std::string>& in)
{
    CommandRun run("bench", kUsage);
    Options o;
    if (!run.parse(in,
                   {"--size", "--frames", "--threads", "--content", "--types", "--repeat", "--kernel", "--module",
                    "--export-frames"},
                   {"--no-hap", "--no-render"}))
        return run.exitCode();
    if (const int code = readOptions(run.args(), &o); code != EXIT_OK)
        return code;
    Material material;
    std::string error;
    if (!prepare(o, &material, &error))
        return run.fail(EXIT_REJECTED, error);
    printHeader(o);
    std::vector<unsigned> threadCounts{1};
    if (o.threads > 1)
        threadCounts.push_back(unsigned(o.threads));
    std::vector<Summary> summaries;
    for (uint32_t type : o.types) {
        summaries.push_back(Summary{type, {}, {}, {}});
        if (!benchType(o, material, threadCounts, &summaries.back(), &error))
            return run.fail(EXIT_REJECTED, error);
    }
    printSummaries(summaries, threadCounts, o.withRender);
    return EXIT_OK;
}

}  // namespace

ZEMO3_COMMAND("bench", "time the compressor against FFmpeg's HAP encoder and the export", cmdBench);
