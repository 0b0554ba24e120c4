// zemo3 play --offscreen --bench: where a player's time goes per frame.
// Clips of the demo composition are rendered through the module for each
// type; then, on one thread, the reading and unpacking of every frame (our
// part on the CPU), the upload of its planes (ours up to the driver), the
// draw (the GL driver's), and FFmpeg's HAP decoder on HAP frames of the same
// pictures, for comparison.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include "commands.h"
#include "player/gpu.h"
#include "platform/platform.h"
#include "play.h"
#include "reader/texture.h"

namespace zemo3 {

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Milliseconds per frame of FFmpeg's HAP decoder, one thread, on HAP frames
// made from these pictures (the nearest HAP mode of the type); -1 when this
// FFmpeg has no HAP encoder or decoder.
double hapDecodeMs(const std::vector<std::vector<uint8_t>>& pictures, uint32_t w, uint32_t h, uint32_t type)
{
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_HAP);
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_HAP);
    if (!encoder || !decoder)
        return -1;
    AVCodecContext* enc = avcodec_alloc_context3(encoder);
    enc->width = int(w);
    enc->height = int(h);
    enc->pix_fmt = AV_PIX_FMT_RGBA;
    enc->time_base = {1, 30};
    av_opt_set(enc->priv_data, "format", type == 0 ? "hap" : type == 1 ? "hap_alpha" : "hap_q", 0);
    std::vector<AVPacket*> packets;
    AVFrame* frame = av_frame_alloc();
    if (avcodec_open2(enc, encoder, nullptr) >= 0) {
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
    }
    avcodec_free_context(&enc);
    AVCodecContext* dec = avcodec_alloc_context3(decoder);
    dec->width = int(w);
    dec->height = int(h);
    dec->thread_count = 1;
    // The decoder takes the mode from the container's tag.
    dec->codec_tag = type == 0 ? MKTAG('H', 'a', 'p', '1') : type == 1 ? MKTAG('H', 'a', 'p', '5') : MKTAG('H', 'a', 'p', 'Y');
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
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("zemo3-playbench-" + std::to_string(platform::processId()));
    TempFolder() { std::filesystem::create_directories(path); }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

}  // namespace

int benchPlayback(const Args& args)
{
    std::vector<std::pair<uint32_t, uint32_t>> sizes = {{1920, 1080}, {3840, 2160}};
    if (args.has("--size")) {
        uint32_t w = 0, h = 0;
        if (!parseSizeText(args.get("--size"), &w, &h))
            return fail(EXIT_USAGE, "play: --size must look like 1920x1080");
        sizes = {{w, h}};
    }
    uint64_t frames = 10;
    if (args.has("--frames") && (!parseUint(args.get("--frames"), 1000, &frames) || frames == 0))
        return fail(EXIT_USAGE, "play: --frames must be a number from 1 to 1000");
    std::string error;
    auto context = gpu::OffscreenContext::create(&error);
    if (!context)
        return fail(EXIT_REJECTED, "play: " + error);
    TempFolder temp;
    std::printf("%s\n%-10s %-13s %10s %10s %10s %14s %10s\n", gpu::rendererName().c_str(), "size", "type",
                "read ms", "upload ms", "draw ms", "read+upload", "HAP ms");
    for (const auto& [w, h] : sizes) {
        for (uint32_t type = 0; type < 4; ++type) {
            const std::string movie = temp.file(std::string(kTypeNames[type]) + ".mov");
            char duration[32];
            std::snprintf(duration, sizeof duration, "%.4f", double(frames) / 30.0);
            const std::string command = "\"" + platform::executablePath() + "\" render --demo --size " +
                                        std::to_string(w) + "x" + std::to_string(h) + " --duration " + duration +
                                        " --compression " + kTypeNames[type] + " --no-sound -o \"" + movie +
                                        "\" > /dev/null";
            if (std::system(command.c_str()) != 0)
                return fail(EXIT_REJECTED, "play: the " + std::string(kTypeNames[type]) + " clip did not render");
            char message[512] = {};
            Zemo3Movie* m = zemo3_open(movie.c_str(), message, sizeof message);
            if (!m)
                return fail(EXIT_REJECTED, std::string("play: ") + message);
            const Zemo3Info info = *zemo3_info(m);
            // Reading and unpacking, and copies of the frames for the rest.
            std::vector<Zemo3Frame> kept;
            std::vector<std::vector<uint8_t>> bytes, pictures;
            Zemo3Frame f;
            double readMs = 0;
            for (auto start = Clock::now(); zemo3_next_frame(m, &f) == ZEMO3_OK; start = Clock::now()) {
                readMs += msSince(start);
                std::vector<uint8_t> texture;
                for (uint32_t i = 0; i < f.planeCount; ++i)
                    texture.insert(texture.end(), f.planes[i].data, f.planes[i].data + f.planes[i].size);
                bytes.push_back(std::move(texture));
                kept.push_back(f);
            }
            zemo3_close(m);
            if (kept.empty())
                return fail(EXIT_REJECTED, "play: the clip has no frames");
            gpu::FrameRenderer renderer;
            if (!renderer.init(info, &error))
                return fail(EXIT_REJECTED, "play: " + error);
            double uploadMs = 0, drawMs = 0;
            for (int pass = 0; pass < 2; ++pass) {  // the first pass warms the driver up
                uploadMs = drawMs = 0;
                for (size_t i = 0; i < kept.size(); ++i) {
                    Zemo3Frame frame = kept[i];
                    size_t at = 0;
                    for (uint32_t p = 0; p < frame.planeCount; ++p) {
                        frame.planes[p].data = bytes[i].data() + at;
                        at += frame.planes[p].size;
                    }
                    auto start = Clock::now();
                    if (!renderer.upload(frame, &error))
                        return fail(EXIT_REJECTED, "play: " + error);
                    renderer.finish();
                    uploadMs += msSince(start);
                    start = Clock::now();
                    renderer.drawPicture(&error);
                    renderer.finish();
                    drawMs += msSince(start);
                }
            }
            for (size_t i = 0; i < kept.size(); ++i) {
                pictures.emplace_back(size_t(w) * h * 4);
                nox::textureToRgba(kept[i].type, bytes[i].data(), bytes[i].size(), w, h, pictures.back().data(),
                                   size_t(w) * 4);
            }
            const double n = double(kept.size());
            const double hap = hapDecodeMs(pictures, w, h, type);
            char size[32];
            std::snprintf(size, sizeof size, "%ux%u", w, h);
            char hapText[32] = "-";
            if (hap >= 0)
                std::snprintf(hapText, sizeof hapText, "%.2f", hap);
            std::printf("%-10s %-13s %10.2f %10.2f %10.2f %14.2f %10s\n", size, kTypeNames[type], readMs / n,
                        uploadMs / n, drawMs / n, (readMs + uploadMs) / n, hapText);
            std::fflush(stdout);
        }
    }
    return EXIT_OK;
}

}  // namespace zemo3
