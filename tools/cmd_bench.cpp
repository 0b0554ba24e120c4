// zemo3 bench: our frame compressor against FFmpeg's HAP encoder on the same
// frames, on one thread and on all of them, with the size and quality each
// gets, and the end-to-end export rate through the emulated host.
//
// Both sides get the same kind of parallelism: N threads, each encoding whole
// frames with its own encoder instance (HAP's contexts run with one thread
// each, so its own chunk threading plays no part). Rates are medians of
// --repeat runs over the whole clip; PSNR comes from one untimed pass, ours
// decoded by the frame reader and texture decoder, HAP's by FFmpeg's decoder.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
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
#include "codec/dxt.h"
#include "codec/zemo3.h"
#include "commands.h"
#include "content/content.h"
#include "module/options.h"
#include "emulated_host/host.h"
#include "platform/platform.h"
#include "verify/quality.h"
#include "reader/frame_decoder.h"
#include "reader/texture.h"

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
    "  --kernel LEVEL  cap the instruction set: scalar, sse2, sse41 or avx2\n"
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

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

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
            const int32_t n = compressor.compress(frame.data(), picture.data(), uint32_t(frame.size()), 0,
                                                  int32_t(width_ * 4));
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

    bool time(const std::vector<AVFrame*>& frames, unsigned threads, int repeat, Figures* f,
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

// The plug-in module in the emulated host, loaded once: the module stays
// mapped for the life of the process.
class Export {
public:
    bool open(const std::string& module, std::string* error)
    {
        if (!host_.load(module, error))
            return false;
        if (A_Err err = host_.callEntry(); err != A_Err_NONE) {
            *error = "the module refused to register (error " + std::to_string(err) + ")";
            return false;
        }
        return true;
    }
    ~Export() { host_.unload(); }

    // Exports `frames` frames of the clip (8-bit ARGB frames, as the host
    // renders them, taken in turn) without sound into path, repeat times
    // after one untimed run that warms the module up (its worker pool,
    // memory pool and the writer's buffers). Rate from StartAdding to the
    // end of EndAdding, which closes the movie.
    bool time(uint32_t type, const Clip& argb, size_t frames, uint32_t width, uint32_t height, const std::string& path,
              int repeat, Figures* f, std::string* error)
    {
        emulated_host::OutputSettings settings;
        settings.width = A_long(width);
        settings.height = A_long(height);
        settings.fps = 25 << 16;
        settings.soundRate = 0;
        settings.channels = 0;
        settings.path = platform::utf8ToUtf16(path);
        const std::vector<uint8_t> storedBytes = zexport::storedOptionsBytes(type);

        std::vector<Span> runs;
        for (int r = -1; r < repeat; ++r) {
            AEIO_OutSpecH out = host_.addOutput(settings, &storedBytes);
            AEIO_SupportedDepthFlags depth = 0;
            A_Err err = host_.initOutputSpec(out);
            if (err == A_Err_NONE)
                err = host_.getDepths(out, &depth);
            const double start = now(), cpuStart = cpuNow();
            if (err == A_Err_NONE)
                err = host_.startAdding(out);
            for (size_t i = 0; err == A_Err_NONE && i < frames; ++i) {
                PF_EffectWorld world{};
                world.rowbytes = A_long(width * 4);
                world.width = A_long(width);
                world.height = A_long(height);
                world.data = const_cast<uint8_t*>(argb[i % argb.size()].data());
                err = host_.addFrame(out, A_long(i), world);
            }
            if (A_Err end = host_.endAdding(out); err == A_Err_NONE)
                err = end;
            if (r >= 0)
                runs.push_back({now() - start, cpuNow() - cpuStart});
            host_.removeOutput(out);
            struct stat st {};
            f->bytesPerFrame = stat(path.c_str(), &st) == 0 ? double(st.st_size) / double(frames) : 0;
            platform::removeFile(path);
            if (err != A_Err_NONE || !host_.errors().empty()) {
                *error = "the export of type " + std::to_string(type) + " failed (error " + std::to_string(err) +
                         (host_.errors().empty() ? ")" : "; host: " + host_.errors().front() + ")");
                return false;
            }
        }
        f->setRate(runs, frames);
        return true;
    }

private:
    emulated_host::Host host_;
};

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

int cmdBench(const std::vector<std::string>& in)
{
    Args args = parseArgs(in, {"--size", "--frames", "--threads", "--content", "--types", "--repeat", "--kernel",
                               "--module", "--export-frames"},
                          {"--no-hap", "--no-render"});
    if (args.help) {
        std::fputs(kUsage, stdout);
        return EXIT_OK;
    }
    if (!args.error.empty())
        return fail(EXIT_USAGE, "bench: " + args.error);
    if (!args.positional.empty())
        return fail(EXIT_USAGE, "bench: unexpected argument '" + args.positional[0] + "'");

    uint32_t width = 1920, height = 1080;
    if (args.has("--size") && !parseSizeText(args.get("--size"), &width, &height))
        return fail(EXIT_USAGE, "bench: --size must look like 1920x1080");
    uint64_t frames = 16, threads = std::max(1u, std::thread::hardware_concurrency()), repeat = 3;
    if (args.has("--frames") && (!parseUint(args.get("--frames"), 100000, &frames) || frames == 0))
        return fail(EXIT_USAGE, "bench: --frames must be a number from 1 to 100000");
    if (args.has("--threads") && (!parseUint(args.get("--threads"), 256, &threads) || threads == 0))
        return fail(EXIT_USAGE, "bench: --threads must be a number from 1 to 256");
    if (args.has("--repeat") && (!parseUint(args.get("--repeat"), 1000, &repeat) || repeat == 0))
        return fail(EXIT_USAGE, "bench: --repeat must be a number from 1 to 1000");
    uint64_t exportFrames = 96;
    if (args.has("--export-frames") &&
        (!parseUint(args.get("--export-frames"), 100000, &exportFrames) || exportFrames == 0))
        return fail(EXIT_USAGE, "bench: --export-frames must be a number from 1 to 100000");
    std::vector<std::string> contents = content::naturalContentNames();
    if (args.has("--content")) {
        contents = splitList(args.get("--content"));
        for (const std::string& c : contents)
            if (!content::isContentName(c))
                return fail(EXIT_USAGE, "bench: unknown content '" + c + "' (see zemo3 bench --help)");
        if (contents.empty())
            return fail(EXIT_USAGE, "bench: --content needs a name");
    }
    std::vector<uint32_t> types{0, 1, 2, 3};
    if (args.has("--types")) {
        types.clear();
        for (const std::string& t : splitList(args.get("--types"))) {
            uint64_t v = 0;
            if (!parseUint(t, 3, &v))
                return fail(EXIT_USAGE, "bench: --types takes format types 0 to 3, e.g. 0,2");
            if (std::find(types.begin(), types.end(), uint32_t(v)) == types.end())
                types.push_back(uint32_t(v));
        }
        if (types.empty())
            return fail(EXIT_USAGE, "bench: --types needs a format type");
    }
    if (args.has("--kernel")) {
        const std::string level = args.get("--kernel");
        bool known = false;
        for (nox::DxtKernel k : {nox::DxtKernel::Scalar, nox::DxtKernel::Sse2, nox::DxtKernel::Sse41,
                                 nox::DxtKernel::Avx2})
            if (level == nox::dxtKernelName(k)) {
                known = true;
                // The module in the host has its own encoders: it reads the
                // cap from the environment when it first encodes.
                platform::setEnvironment("ZEMO_KERNEL", level);
                nox::limitDxtKernel(k);
            }
        if (!known)
            return fail(EXIT_USAGE, "bench: --kernel must be scalar, sse2, sse41 or avx2");
    }
    const bool withHap = !args.has("--no-hap"), withRender = !args.has("--no-render");

    std::string names, error;
    for (const std::string& c : contents)
        names += (names.empty() ? "" : ", ") + c;
    std::fprintf(stderr, "bench: rendering %llu frames of %ux%u...\n", (unsigned long long)frames, width, height);
    Clip clip;
    if (!content::renderClip(contents, width, height, frames, &clip, &error))
        return fail(EXIT_REJECTED, "bench: " + error);
    AvClip avClip;
    if (withHap && !avClip.fill(clip, width, height))
        return fail(EXIT_REJECTED, "bench: out of memory");
    Clip argb;
    std::unique_ptr<Export> exporter;
    std::string moviePath;
    if (withRender) {
        for (const auto& rgba : clip) {
            argb.emplace_back(rgba.size());
            for (size_t i = 0; i < rgba.size(); i += 4) {
                argb.back()[i] = rgba[i + 3];
                std::memcpy(&argb.back()[i + 1], &rgba[i], 3);
            }
        }
        exporter = std::make_unique<Export>();
        if (!exporter->open(args.get("--module", emulated_host::defaultModulePath()), &error))
            return fail(EXIT_REJECTED, "bench: " + error);
        moviePath = (std::filesystem::temp_directory_path() /
                     ("zemo3-bench-" + std::to_string(platform::processId()) + ".mov"))
                        .string();
    }

    const double load = platform::loadAverage();
    char loadText[16] = "unknown";
    if (load >= 0)
        std::snprintf(loadText, sizeof loadText, "%.2f", load);
    std::printf("zemo3 bench: %llu frames of %ux%u (%s), median of %llu runs\n", (unsigned long long)frames, width,
                height, names.c_str(), (unsigned long long)repeat);
    std::printf("kernel %s, %u cores, load average %s at start\n", nox::dxtKernelName(nox::bestDxtKernel()),
                std::thread::hardware_concurrency(), loadText);
    if (withHap)
        std::printf("HAP: FFmpeg's encoder, one frame per thread, Snappy second stage in one chunk\n");
    std::printf("\n%-4s  %-10s %7s  %9s  %8s  %11s  %8s  %8s\n", "type", "encoder", "threads", "fps", "cpu ms",
                "bytes/frame", "PSNR RGB", "PSNR A");

    struct Summary {
        uint32_t type;
        Figures ours[2], hap[2], render;
        bool hasHap = false, hasRender = false;
    };
    std::vector<Summary> summaries;
    std::vector<unsigned> threadCounts{1};
    if (threads > 1)
        threadCounts.push_back(unsigned(threads));
    for (uint32_t type : types) {
        Summary s{type, {}, {}, {}};
        Ours ours(type, width, height);
        Quality quality;
        if (!ours.quality(clip, &quality, &error))
            return fail(EXIT_REJECTED, "bench: " + error);
        for (size_t k = 0; k < threadCounts.size(); ++k) {
            if (!ours.time(clip, threadCounts[k], int(repeat), &s.ours[k], &error))
                return fail(EXIT_REJECTED, "bench: " + error);
            printRow(type, std::string("zemo3 ") + kTextureNames[type], threadCounts[k], s.ours[k], quality);
            std::fflush(stdout);
        }
        Hap hap(type, width, height);
        const std::string why = withHap ? hap.unavailable() : "";
        if (withHap && !why.empty())
            std::printf("%-4u  HAP rows left out: %s\n", type, why.c_str());
        if (withHap && why.empty()) {
            s.hasHap = true;
            if (!hap.quality(clip, avClip.frames, &quality, &error))
                return fail(EXIT_REJECTED, "bench: " + error);
            for (size_t k = 0; k < threadCounts.size(); ++k) {
                if (!hap.time(avClip.frames, threadCounts[k], int(repeat), &s.hap[k], &error))
                    return fail(EXIT_REJECTED, "bench: " + error);
                printRow(type, hapFormat(type), threadCounts[k], s.hap[k], quality);
                std::fflush(stdout);
            }
        }
        if (exporter) {
            s.hasRender = true;
            if (!exporter->time(type, argb, size_t(exportFrames), width, height, moviePath, int(repeat), &s.render, &error))
                return fail(EXIT_REJECTED, "bench: " + error);
        }
        summaries.push_back(s);
    }

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
                    !s.hasRender ? "-" : met ? "met" : "missed");
    }
    return EXIT_OK;
}

}  // namespace

ZEMO3_COMMAND("bench", "time the compressor against FFmpeg's HAP encoder and the export", cmdBench);
