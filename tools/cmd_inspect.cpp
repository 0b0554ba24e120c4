// zemo3 inspect: what a Zemo 3 movie holds, frame by frame, and on request a
// contact sheet of its decoded pictures (beside their source when one is
// given).
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "cli.h"
#include "codec/zemo3.h"
#include "commands.h"
#include "media/movie.h"
#include "media/png.h"
#include "progress.h"
#include "media/reference.h"

namespace {

using namespace zemo3;

const char* kUsageHead =
    "usage: zemo3 inspect MOVIE [--totals] [--sheet SHEET.png [--sheet-frames N]]\n"
    "                     [--reference SRC | --demo [--size WxH] [--fps RATE] [--duration S]]\n"
    "\n"
    "Prints one line per frame (timestamp, texture tag and format version, packed\n"
    "or raw payload, packet and texture bytes, compression ratio) and the totals.\n"
    "  --totals          print only the totals\n"
    "  --sheet FILE.png  also write a contact sheet: N decoded frames spread over\n"
    "                    the movie, left to right and top to bottom, over a\n"
    "                    checkerboard where they are transparent; with a reference\n"
    "                    each frame has its source on its left\n"
    "  --sheet-frames N  frames on the sheet (default 12, at most 100)\n";
const char* kUsageTail =
    "\n"
    "Exit codes: 0 done, 1 a frame header is unreadable or a sheet frame does not\n"
    "decode, 2 bad arguments, unreadable input or unwritable output.\n";

constexpr uint32_t kThumbMax = 240;  // longest side of a sheet picture
constexpr uint32_t kGap = 6;

// A picture scaled down for the sheet and laid over a checkerboard.
std::vector<uint8_t> thumbnail(const std::vector<uint8_t>& rgba, uint32_t w, uint32_t h, uint32_t tw, uint32_t th)
{
    std::vector<uint8_t> scaled(size_t(tw) * th * 4);
    SwsContext* sws =
        sws_getContext(int(w), int(h), AV_PIX_FMT_RGBA, int(tw), int(th), AV_PIX_FMT_RGBA, SWS_AREA, nullptr, nullptr, nullptr);
    const uint8_t* src[1] = {rgba.data()};
    const int srcStride[1] = {int(w * 4)};
    uint8_t* dst[1] = {scaled.data()};
    const int dstStride[1] = {int(tw * 4)};
    sws_scale(sws, src, srcStride, 0, int(h), dst, dstStride);
    sws_freeContext(sws);
    std::vector<uint8_t> rgb(size_t(tw) * th * 3);
    for (uint32_t y = 0; y < th; ++y)
        for (uint32_t x = 0; x < tw; ++x) {
            const uint8_t* p = &scaled[(size_t(y) * tw + x) * 4];
            const int board = ((x / 8 + y / 8) & 1) ? 200 : 150;
            for (int c = 0; c < 3; ++c)
                rgb[(size_t(y) * tw + x) * 3 + size_t(c)] = uint8_t((p[c] * p[3] + board * (255 - p[3]) + 127) / 255);
        }
    return rgb;
}

int cmdInspect(const std::vector<std::string>& in)
{
    std::set<std::string> valued = kReferenceOptions, flags = kReferenceFlags;
    valued.insert({"--sheet", "--sheet-frames"});
    flags.insert("--totals");
    Args args = parseArgs(in, valued, flags);
    if (args.help) {
        std::fputs(kUsageHead, stdout);
        std::fputs(kReferenceUsage, stdout);
        std::fputs(kUsageTail, stdout);
        return EXIT_OK;
    }
    if (!args.error.empty())
        return fail(EXIT_USAGE, "inspect: " + args.error);
    if (args.positional.size() != 1)
        return fail(EXIT_USAGE, "inspect: expected one MOVIE (see zemo3 inspect --help)");
    uint64_t sheetFrames = 12;
    if (args.has("--sheet-frames") && (!parseUint(args.get("--sheet-frames"), 100, &sheetFrames) || sheetFrames == 0))
        return fail(EXIT_USAGE, "inspect: --sheet-frames must be a number from 1 to 100");
    const bool sheet = args.has("--sheet");
    if (!sheet && (args.has("--reference") || args.has("--demo")))
        return fail(EXIT_USAGE, "inspect: a reference is shown only on a contact sheet: add --sheet FILE.png");
    const std::string path = args.positional[0];
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return fail(EXIT_USAGE, "inspect: cannot open '" + path + "': " + std::strerror(errno));

    MovieReader movie;
    std::string error;
    if (!movie.open(path, &error))
        return fail(EXIT_REJECTED, "inspect: " + error);
    const MovieInfo& info = movie.info();
    if (info.video < 0 || info.width == 0 || info.height == 0)
        return fail(EXIT_REJECTED, "inspect: '" + path + "' has no video stream");
    Reference ref;
    ReferenceRequest request;
    bool compare = false;
    if (!parseReference(args, &request, &compare, &error) ||
        (compare && !openReference(request, info.width, info.height, &ref, &error)))
        return fail(EXIT_USAGE, "inspect: " + error);
    if (ref.source && (ref.source->composition().width != info.width || ref.source->composition().height != info.height))
        return fail(EXIT_USAGE, "inspect: the movie is " + std::to_string(info.width) + "x" +
                                    std::to_string(info.height) + ", " + ref.name + " " +
                                    std::to_string(ref.source->composition().width) + "x" +
                                    std::to_string(ref.source->composition().height));

    // Frames for the sheet, spread evenly over the length the container lists.
    std::set<uint64_t> wanted;
    const uint64_t listed = info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : sheetFrames;
    if (sheet)
        for (uint64_t i = 0; i < std::min(sheetFrames, listed); ++i)
            wanted.insert(listed <= sheetFrames ? i : i * (listed - 1) / (sheetFrames - 1 ? sheetFrames - 1 : 1));
    const double scale = std::min(1.0, double(kThumbMax) / std::max(info.width, info.height));
    const uint32_t tw = std::max(1u, uint32_t(std::lround(info.width * scale)));
    const uint32_t th = std::max(1u, uint32_t(std::lround(info.height * scale)));
    struct Cell {
        uint64_t frame;
        std::vector<uint8_t> decoded, source;
    };
    std::vector<Cell> cells;

    const bool table = !args.has("--totals");
    if (table)
        std::printf("%7s %10s  %-4s %3s  %-6s %10s %10s %8s\n", "frame", "pts", "tag", "ver", "kind", "bytes", "texture",
                    "ratio");
    FramePictures pictures(info.width, info.height);
    std::vector<uint8_t> rgba, source;
    std::map<uint32_t, uint64_t> perType;
    uint64_t frames = 0, packed = 0, raw = 0, bytes = 0, textureBytes = 0, unreadable = 0, sheetFailures = 0;
    uint64_t smallest = UINT64_MAX, largest = 0, audioBytes = 0;
    ProgressLine progress("inspect");
    MoviePacket packet;
    while (movie.next(&packet)) {
        if (packet.kind == MoviePacket::AUDIO)
            audioBytes += packet.size;
        if (packet.kind != MoviePacket::VIDEO)
            continue;
        const uint64_t n = frames++;
        FramePictures::Header h;
        bytes += packet.size;
        smallest = std::min<uint64_t>(smallest, packet.size);
        largest = std::max<uint64_t>(largest, packet.size);
        if (!FramePictures::readHeader(packet.data, packet.size, &h)) {
            ++unreadable;
            if (table)
                std::printf("%7llu %10lld  (%zu bytes: too short for a frame header)\n", (unsigned long long)n,
                            (long long)packet.pts, packet.size);
            continue;
        }
        const uint32_t texture = nox::textureSize(h.type, info.width, info.height);
        ++perType[h.type];
        (h.payloadKind ? raw : packed) += 1;
        textureBytes += texture;
        if (table)
            std::printf("%7llu %10lld  %-4s %3u  %-6s %10zu %10u %7.2f:1\n", (unsigned long long)n,
                        (long long)packet.pts, frameTagText(h.tag).c_str(), h.version, h.payloadKind ? "raw" : "packed",
                        packet.size, texture, packet.size ? double(texture) / double(packet.size) : 0.0);
        if (wanted.count(n)) {
            Cell cell{n, {}, {}};
            std::string why;
            if (!pictures.decode(packet.data, packet.size, &rgba, nullptr, &why)) {
                ++sheetFailures;
                fail(EXIT_REJECTED, "inspect: '" + path + "' frame " + std::to_string(n) + " does not decode: " + why);
                rgba.assign(size_t(info.width) * info.height * 4, 0);
            }
            cell.decoded = thumbnail(rgba, info.width, info.height, tw, th);
            if (ref.source) {
                // A reference is read in order: skip to this frame.
                bool have = false;
                for (uint64_t k = cells.empty() ? 0 : cells.back().frame + 1; k <= n; ++k)
                    have = referencePicture(ref, k, &source);
                if (have)
                    cell.source = thumbnail(source, info.width, info.height, tw, th);
                else
                    cell.source.assign(size_t(tw) * th * 3, 0);
            }
            cells.push_back(std::move(cell));
        }
        if (!table)
            progress.draw(frames, info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : 0);
    }
    if (!table)
        progress.draw(frames, info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : 0, true);

    const double pixels = double(info.width) * info.height;
    std::printf("%s: %llu frames of %ux%u, video tag '%s'\n", path.c_str(), (unsigned long long)frames, info.width,
                info.height, tagText(info.codecTag).c_str());
    for (const auto& [type, count] : perType)
        std::printf("  %llu frames %s (type %u)\n", (unsigned long long)count, nox::formatTypeName(type), type);
    std::printf("  payloads: %llu packed, %llu raw\n", (unsigned long long)packed, (unsigned long long)raw);
    if (frames) {
        std::printf("  bytes: %llu in all, %.0f per frame (smallest %llu, largest %llu)\n", (unsigned long long)bytes,
                    double(bytes) / double(frames), (unsigned long long)smallest, (unsigned long long)largest);
        std::printf("  ratio: %.2f:1 against the textures, %.2f:1 against 8-bit RGBA\n",
                    bytes ? double(textureBytes) / double(bytes) : 0.0,
                    bytes ? pixels * 4 * double(frames) / double(bytes) : 0.0);
    }
    if (info.audio >= 0) {
        const uint64_t frameBytes = uint64_t(std::max(info.channels, 1)) * uint64_t(std::max(info.bytesPerSample, 1));
        std::printf("  sound: %s, %d channels at %d Hz, %llu samples\n", info.audioCodec.c_str(), info.channels,
                    info.sampleRate, (unsigned long long)(audioBytes / frameBytes));
    } else {
        std::printf("  sound: none\n");
    }
    if (!movie.error().empty())
        fail(EXIT_REJECTED, "inspect: '" + path + "': " + movie.error());

    if (sheet && !cells.empty()) {
        const uint32_t cellW = ref.source ? 2 * tw + kGap : tw;
        const uint32_t cols = uint32_t(std::max<size_t>(1, std::min<size_t>(cells.size(), ref.source ? 3 : 4)));
        const uint32_t rows = uint32_t((cells.size() + cols - 1) / cols);
        const uint32_t sw = kGap + cols * (cellW + kGap), sh = kGap + rows * (th + kGap);
        std::vector<uint8_t> canvas(size_t(sw) * sh * 3, 40);
        auto place = [&](const std::vector<uint8_t>& pic, uint32_t x0, uint32_t y0) {
            for (uint32_t y = 0; y < th; ++y)
                std::memcpy(&canvas[(size_t(y0 + y) * sw + x0) * 3], &pic[size_t(y) * tw * 3], size_t(tw) * 3);
        };
        for (size_t i = 0; i < cells.size(); ++i) {
            const uint32_t x0 = kGap + uint32_t(i % cols) * (cellW + kGap), y0 = kGap + uint32_t(i / cols) * (th + kGap);
            if (ref.source) {
                place(cells[i].source, x0, y0);
                place(cells[i].decoded, x0 + tw + kGap, y0);
            } else {
                place(cells[i].decoded, x0, y0);
            }
        }
        const std::string sheetPath = args.get("--sheet");
        if (!writePng(sheetPath, canvas.data(), sw, sh, false, &error))
            return fail(EXIT_USAGE, "inspect: " + error);
        std::printf("sheet: %s, frames", sheetPath.c_str());
        for (const Cell& c : cells)
            std::printf(" %llu", (unsigned long long)c.frame);
        std::printf("%s\n", ref.source ? (", each beside its source from " + ref.name).c_str() : "");
    }
    return unreadable || sheetFailures || !movie.error().empty() ? EXIT_REJECTED : EXIT_OK;
}

}  // namespace

ZEMO3_COMMAND("inspect", "list the frames of a Zemo 3 movie; draw a contact sheet", cmdInspect);
