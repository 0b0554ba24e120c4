// zemo3 play --offscreen --bench: where a player's time goes per frame.
// Clips of the demo composition are rendered through the module (in the
// emulated host, in this process) for each type; then, on one thread, the reading and unpacking of every frame (our
// part on the CPU), the upload of its planes (ours up to the driver), the
// draw (the GL driver's), and FFmpeg's HAP decoder on HAP frames of the same
// pictures, for comparison.
#include <algorithm>
#include <cstdio>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "bench/harness.h"
#include "commands.h"
#include "emulated_host/render.h"
#include "media/sources.h"
#include "platform/platform.h"
#include "play.h"
#include "player/gpu.h"
#include "reader/texture.h"

namespace zemo3 {

namespace {

// Milliseconds per frame of FFmpeg's HAP decoder, one thread, on HAP frames
// made from these pictures (the nearest HAP mode of the type); -1 when this
// FFmpeg has no HAP encoder or decoder.
double hapDecodeMs(const std::vector<std::vector<uint8_t>>& pictures, uint32_t w, uint32_t h, uint32_t type)
{
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_HAP);
    std::string error;
    AVCodecContext* enc = decoder ? bench::openHapEncoder(type, w, h, 30, &error) : nullptr;
    if (!enc)
        return -1;
    std::vector<AVPacket*> packets;
    AVFrame* frame = av_frame_alloc();
    for (const auto& picture : pictures) {
        frame->format = AV_PIX_FMT_RGBA;
        frame->width = int(w);
        frame->height = int(h);
        if (av_frame_get_buffer(frame, 0) < 0)
            break;
        for (uint32_t y = 0; y < h; ++y)
            std::copy_n(&picture[size_t(y) * w * 4], size_t(w) * 4, frame->data[0] + size_t(y) * frame->linesize[0]);
        AVPacket* packet = av_packet_alloc();
        if (avcodec_send_frame(enc, frame) >= 0 && avcodec_receive_packet(enc, packet) >= 0)
            packets.push_back(packet);
        else
            av_packet_free(&packet);
        av_frame_unref(frame);
    }
    AVCodecContext* dec = avcodec_alloc_context3(decoder);
    dec->width = int(w);
    dec->height = int(h);
    dec->thread_count = 1;
    // The decoder takes the mode from the tag the encoder chose, as a
    // container carries it.
    dec->codec_tag = enc->codec_tag;
    avcodec_free_context(&enc);
    double ms = -1;
    if (!packets.empty() && avcodec_open2(dec, decoder, nullptr) >= 0) {
        const auto start = Clock::now();
        for (AVPacket* packet : packets)
            if (avcodec_send_packet(dec, packet) >= 0)
                avcodec_receive_frame(dec, frame);
        ms = msSince(start) / double(packets.size());
    }
    avcodec_free_context(&dec);
    for (AVPacket*& packet : packets)
        av_packet_free(&packet);
    av_frame_free(&frame);
    return ms;
}

const char* const kTypeNames[4] = {"normal", "normal-alpha", "high", "high-alpha"};

// A folder for the clips, removed with them.
struct TempFolder {
    std::string path = platform::temporaryFolder() + "/zemo3-playbench-" + std::to_string(platform::processId());
    TempFolder() { platform::makeDirectories(path); }
    ~TempFolder() { platform::removeTree(path); }
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// The frames of a clip as read and unpacked, each with its own copy of the
// planes, and the milliseconds that took.
struct Clip {
    Zemo3Info info{};
    std::vector<Zemo3Frame> frames;
    std::vector<std::vector<uint8_t>> bytes;  // each frame's planes, one after the other
    double readMs = 0;

    // Frame i with its planes pointing into its bytes.
    Zemo3Frame frame(size_t i) const
    {
        Zemo3Frame f = frames[i];
        size_t at = 0;
        for (uint32_t p = 0; p < f.planeCount; ++p) {
            f.planes[p].data = bytes[i].data() + at;
            at += f.planes[p].size;
        }
        return f;
    }
};

// The demo's pictures as the host hands them to the module.
class DemoFeed : public emulated_host::RenderFeed {
public:
    explicit DemoFeed(Source& demo) : demo_(demo) {}
    bool picture(uint64_t n, const uint8_t** argb, size_t* rowBytes) override
    {
        SourcePicture picture;
        if (!demo_.frame(n, &picture))
            return false;
        *argb = picture.data;
        *rowBytes = picture.rowBytes;
        return true;
    }

private:
    Source& demo_;
};

// The demo rendered at w x h, 30 fps, in a type through the module, without sound.
bool renderClip(emulated_host::ModuleSession& session, const std::string& movie, uint32_t w, uint32_t h, uint32_t type,
                uint64_t frames)
{
    const std::unique_ptr<Source> demo = openDemo(demoComposition(w, h, 30, 1, double(frames) / 30.0, false));
    emulated_host::RenderJob job;
    job.path = movie;
    job.width = w, job.height = h;
    job.fpsNum = 30, job.fpsDen = 1;
    job.formatType = type;
    job.frameLimit = frames;
    DemoFeed feed(*demo);
    const emulated_host::RenderResult result = session.render(job, feed);
    return result.failed == emulated_host::RenderStep::Done && result.frames == frames && session.errors().empty();
}

bool readClip(const std::string& movie, Clip* clip, std::string* error)
{
    char message[512] = {};
    Zemo3Movie* m = zemo3_open(movie.c_str(), message, sizeof message);
    if (!m) {
        *error = message;
        return false;
    }
    clip->info = *zemo3_info(m);
    Zemo3Frame f;
    for (auto start = Clock::now(); zemo3_next_frame(m, &f) == ZEMO3_OK; start = Clock::now()) {
        clip->readMs += msSince(start);
        std::vector<uint8_t> texture;
        for (uint32_t i = 0; i < f.planeCount; ++i)
            texture.insert(texture.end(), f.planes[i].data, f.planes[i].data + f.planes[i].size);
        clip->bytes.push_back(std::move(texture));
        clip->frames.push_back(f);
    }
    zemo3_close(m);
    if (clip->frames.empty())
        *error = "the clip has no frames";
    return !clip->frames.empty();
}

// Milliseconds of uploading and of drawing all frames, each waited for; the
// second of two passes, the first warms the driver up.
bool timeGpu(const Clip& clip, double* uploadMs, double* drawMs, std::string* error)
{
    gpu::FrameRenderer renderer;
    if (!renderer.init(clip.info, error))
        return false;
    for (int pass = 0; pass < 2; ++pass) {
        *uploadMs = *drawMs = 0;
        for (size_t i = 0; i < clip.frames.size(); ++i) {
            auto start = Clock::now();
            if (!renderer.upload(clip.frame(i), error))
                return false;
            renderer.finish();
            *uploadMs += msSince(start);
            start = Clock::now();
            renderer.drawPicture(error);
            renderer.finish();
            *drawMs += msSince(start);
        }
    }
    return true;
}

// One row of the table: a clip of a type at a size.
int benchClip(emulated_host::ModuleSession& session, const TempFolder& temp, uint32_t w, uint32_t h, uint32_t type,
              uint64_t frames)
{
    const std::string movie = temp.file(std::string(kTypeNames[type]) + ".mov");
    if (!renderClip(session, movie, w, h, type, frames))
        return fail(EXIT_REJECTED, "play: the " + std::string(kTypeNames[type]) + " clip did not render");
    Clip clip;
    std::string error;
    double uploadMs = 0, drawMs = 0;
    if (!readClip(movie, &clip, &error) || !timeGpu(clip, &uploadMs, &drawMs, &error))
        return fail(EXIT_REJECTED, "play: " + error);
    std::vector<std::vector<uint8_t>> pictures;
    for (size_t i = 0; i < clip.frames.size(); ++i) {
        pictures.emplace_back(size_t(w) * h * 4);
        nox::textureToRgba(clip.frames[i].type, clip.bytes[i].data(), clip.bytes[i].size(), w, h,
                           pictures.back().data(), size_t(w) * 4);
    }
    const double n = double(clip.frames.size());
    const double hap = hapDecodeMs(pictures, w, h, type);
    char size[32];
    std::snprintf(size, sizeof size, "%ux%u", w, h);
    char hapText[32] = "-";
    if (hap >= 0)
        std::snprintf(hapText, sizeof hapText, "%.2f", hap);
    std::printf("%-10s %-13s %10.2f %10.2f %10.2f %14.2f %10s\n", size, kTypeNames[type], clip.readMs / n, uploadMs / n,
                drawMs / n, (clip.readMs + uploadMs) / n, hapText);
    std::fflush(stdout);
    return EXIT_OK;
}

}  // namespace

int benchPlayback(const Args& args)
{
    std::vector<std::pair<uint32_t, uint32_t>> sizes = {{1920, 1080}, {3840, 2160}};
    if (args.has("--size")) {
        uint32_t w = 0, h = 0;
        std::string why;
        if (!parseSizeText(args.get("--size"), &w, &h, &why))
            return fail(EXIT_USAGE, "play: " + why);
        sizes = {{w, h}};
    }
    uint64_t frames = 10;
    if (args.has("--frames") && (!parseUint(args.get("--frames"), 1000, &frames) || frames == 0))
        return fail(EXIT_USAGE, "play: --frames must be a number from 1 to 1000");
    std::string error;
    auto context = gpu::OffscreenContext::create(&error);
    if (!context)
        return fail(EXIT_REJECTED, "play: " + error);
    emulated_host::ModuleSession session;
    if (session.open(emulated_host::defaultModulePath(), &error) != emulated_host::RenderStep::Done)
        return fail(EXIT_USAGE, "play: " + error);
    TempFolder temp;
    std::printf("%s\n%-10s %-13s %10s %10s %10s %14s %10s\n", gpu::rendererName().c_str(), "size", "type", "read ms",
                "upload ms", "draw ms", "read+upload", "HAP ms");
    for (const auto& [w, h] : sizes)
        for (uint32_t type = 0; type < 4; ++type)
            if (const int code = benchClip(session, temp, w, h, type, frames))
                return code;
    session.close();
    return EXIT_OK;
}

}  // namespace zemo3
