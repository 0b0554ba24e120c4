// zemo3 inspect: what a Zemo 3 movie holds, frame by frame, and on request a
// contact sheet of its decoded pictures (beside their source when one is
// given).
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
#include "media/reference.h"
#include "progress.h"
#include "reader/pictures.h"

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
    SwsContext* sws = sws_getContext(int(w), int(h), AV_PIX_FMT_RGBA, int(tw), int(th), AV_PIX_FMT_RGBA, SWS_AREA,
                                     nullptr, nullptr, nullptr);
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

// The contact sheet: frames spread evenly over the length the container
// lists, each scaled down (beside its source when there is a reference).
class ContactSheet {
public:
    ContactSheet(const MovieInfo& info, uint64_t count, Reference& ref)
        : info_(info), ref_(ref), pictures_(info.width, info.height)
    {
        const uint64_t listed = info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : count;
        for (uint64_t i = 0; i < std::min(count, listed); ++i)
            wanted_.insert(listed <= count ? i : i * (listed - 1) / (count - 1 ? count - 1 : 1));
        const double scale = std::min(1.0, double(kThumbMax) / std::max(info.width, info.height));
        tw_ = std::max(1u, uint32_t(std::lround(info.width * scale)));
        th_ = std::max(1u, uint32_t(std::lround(info.height * scale)));
    }

    bool wants(uint64_t n) const { return wanted_.count(n) != 0; }
    bool empty() const { return cells_.empty(); }

    // Frame n's cell. False when the frame does not decode: its cell stays black.
    bool add(uint64_t n, const MoviePacket& packet, std::string* why)
    {
        Cell cell{n, {}, {}};
        const bool decoded = pictures_.decode(packet.data, packet.size, &rgba_, nullptr, why);
        if (!decoded)
            rgba_.assign(size_t(info_.width) * info_.height * 4, 0);
        cell.decoded = thumbnail(rgba_, info_.width, info_.height, tw_, th_);
        if (ref_.source) {
            // A reference is read in order: skip to this frame.
            bool have = false;
            for (uint64_t k = cells_.empty() ? 0 : cells_.back().frame + 1; k <= n; ++k)
                have = referencePicture(ref_, k, &source_);
            if (have)
                cell.source = thumbnail(source_, info_.width, info_.height, tw_, th_);
            else
                cell.source.assign(size_t(tw_) * th_ * 3, 0);
        }
        cells_.push_back(std::move(cell));
        return decoded;
    }

    // Writes the sheet and says which frames it shows.
    bool write(const std::string& path, std::string* error) const
    {
        const bool pairs = ref_.source != nullptr;
        const uint32_t cellW = pairs ? 2 * tw_ + kGap : tw_;
        const uint32_t cols = uint32_t(std::max<size_t>(1, std::min<size_t>(cells_.size(), pairs ? 3 : 4)));
        const uint32_t rows = uint32_t((cells_.size() + cols - 1) / cols);
        const uint32_t sw = kGap + cols * (cellW + kGap), sh = kGap + rows * (th_ + kGap);
        std::vector<uint8_t> canvas(size_t(sw) * sh * 3, 40);
        auto place = [&](const std::vector<uint8_t>& pic, uint32_t x0, uint32_t y0) {
            for (uint32_t y = 0; y < th_; ++y)
                std::memcpy(&canvas[(size_t(y0 + y) * sw + x0) * 3], &pic[size_t(y) * tw_ * 3], size_t(tw_) * 3);
        };
        for (size_t i = 0; i < cells_.size(); ++i) {
            const uint32_t x0 = kGap + uint32_t(i % cols) * (cellW + kGap),
                           y0 = kGap + uint32_t(i / cols) * (th_ + kGap);
            if (pairs) {
                place(cells_[i].source, x0, y0);
                place(cells_[i].decoded, x0 + tw_ + kGap, y0);
            } else {
                place(cells_[i].decoded, x0, y0);
            }
        }
        if (!writePng(path, canvas.data(), sw, sh, false, error))
            return false;
        std::printf("sheet: %s, frames", path.c_str());
        for (const Cell& c : cells_)
            std::printf(" %llu", (unsigned long long)c.frame);
        std::printf("%s\n", pairs ? (", each beside its source from " + ref_.name).c_str() : "");
        return true;
    }

private:
    struct Cell {
        uint64_t frame;
        std::vector<uint8_t> decoded, source;  // RGB thumbnails
    };
    const MovieInfo& info_;
    Reference& ref_;
    nox::FramePictures pictures_;
    std::set<uint64_t> wanted_;
    uint32_t tw_ = 1, th_ = 1;  // thumbnail size
    std::vector<Cell> cells_;
    std::vector<uint8_t> rgba_, source_;
};

// What the frames add up to.
struct Totals {
    std::map<uint32_t, uint64_t> perType;
    uint64_t frames = 0, packed = 0, raw = 0, bytes = 0, textureBytes = 0, unreadable = 0;
    uint64_t smallest = UINT64_MAX, largest = 0, audioBytes = 0;
};

// Counts frame n, with its table row when `row`; false when its header is unreadable.
bool listFrame(uint64_t n, const MoviePacket& packet, const MovieInfo& info, bool row, Totals* t)
{
    nox::FramePictures::Header h;
    t->bytes += packet.size;
    t->smallest = std::min<uint64_t>(t->smallest, packet.size);
    t->largest = std::max<uint64_t>(t->largest, packet.size);
    if (!nox::FramePictures::readHeader(packet.data, packet.size, &h)) {
        ++t->unreadable;
        if (row)
            std::printf("%7llu %10lld  (%zu bytes: too short for a frame header)\n", (unsigned long long)n,
                        (long long)packet.pts, packet.size);
        return false;
    }
    const uint32_t texture = nox::textureSize(h.type, info.width, info.height);
    ++t->perType[h.type];
    (h.payloadKind ? t->raw : t->packed) += 1;
    t->textureBytes += texture;
    if (row)
        std::printf("%7llu %10lld  %-4s %3u  %-6s %10zu %10u %7.2f:1\n", (unsigned long long)n, (long long)packet.pts,
                    frameTagText(h.tag).c_str(), h.version, h.payloadKind ? "raw" : "packed", packet.size, texture,
                    packet.size ? double(texture) / double(packet.size) : 0.0);
    return true;
}

void printTotals(const std::string& path, const MovieInfo& info, const Totals& t)
{
    const double pixels = double(info.width) * info.height;
    std::printf("%s: %llu frames of %ux%u, video tag '%s'\n", path.c_str(), (unsigned long long)t.frames, info.width,
                info.height, tagText(info.codecTag).c_str());
    for (const auto& [type, count] : t.perType)
        std::printf("  %llu frames %s (type %u)\n", (unsigned long long)count, nox::formatTypeName(type), type);
    std::printf("  payloads: %llu packed, %llu raw\n", (unsigned long long)t.packed, (unsigned long long)t.raw);
    if (t.frames) {
        std::printf("  bytes: %llu in all, %.0f per frame (smallest %llu, largest %llu)\n", (unsigned long long)t.bytes,
                    double(t.bytes) / double(t.frames), (unsigned long long)t.smallest, (unsigned long long)t.largest);
        std::printf("  ratio: %.2f:1 against the textures, %.2f:1 against 8-bit RGBA\n",
                    t.bytes ? double(t.textureBytes) / double(t.bytes) : 0.0,
                    t.bytes ? pixels * 4 * double(t.frames) / double(t.bytes) : 0.0);
    }
    if (info.audio >= 0) {
        const uint64_t frameBytes = uint64_t(std::max(info.channels, 1)) * uint64_t(std::max(info.bytesPerSample, 1));
        std::printf("  sound: %s, %d channels at %d Hz, %llu samples\n", info.audioCodec.c_str(), info.channels,
                    info.sampleRate, (unsigned long long)(t.audioBytes / frameBytes));
    } else {
        std::printf("  sound: none\n");
    }
}

// The options besides the movie: false when they do not do.
bool readSheetOptions(CommandRun& run, uint64_t* sheetFrames)
{
    const Args& args = run.args();
    if (args.has("--sheet-frames") && (!parseUint(args.get("--sheet-frames"), 100, sheetFrames) || *sheetFrames == 0))
        return run.stop(EXIT_USAGE, "--sheet-frames must be a number from 1 to 100");
    if (!args.has("--sheet") && (args.has("--reference") || args.has("--demo")))
        return run.stop(EXIT_USAGE, "a reference is shown only on a contact sheet: add --sheet FILE.png");
    return true;
}

// The reference, when one is given, must have the movie's size.
bool openSameSizeReference(CommandRun& run, const MovieInfo& info, Reference* ref)
{
    if (!run.openReference(info, ref))
        return false;
    if (ref->source &&
        (ref->source->composition().width != info.width || ref->source->composition().height != info.height))
        return run.stop(EXIT_USAGE, "the movie is " + std::to_string(info.width) + "x" + std::to_string(info.height) +
                                        ", " + ref->name + " " + std::to_string(ref->source->composition().width) +
                                        "x" + std::to_string(ref->source->composition().height));
    return true;
}

int cmdInspect(const std::vector<std::string>& in)
{
    std::set<std::string> valued = kReferenceOptions, flags = kReferenceFlags;
    valued.insert({"--sheet", "--sheet-frames"});
    flags.insert("--totals");
    CommandRun run("inspect", std::string(kUsageHead) + kReferenceUsage + kUsageTail);
    uint64_t sheetFrames = 12;
    MovieReader movie;
    Reference ref;
    if (!run.parse(in, valued, flags) || !run.oneMovie() || !readSheetOptions(run, &sheetFrames) ||
        !run.movieExists() || !run.openMovie(&movie, MovieNeed::Video) ||
        !openSameSizeReference(run, movie.info(), &ref))
        return run.exitCode();
    const std::string& path = run.movie();
    const MovieInfo& info = movie.info();
    const bool sheet = run.args().has("--sheet"), table = !run.args().has("--totals");
    ContactSheet cells(info, sheet ? sheetFrames : 0, ref);

    if (table)
        std::printf("%7s %10s  %-4s %3s  %-6s %10s %10s %8s\n", "frame", "pts", "tag", "ver", "kind", "bytes",
                    "texture", "ratio");
    const uint64_t listed = info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : 0;
    Totals totals;
    uint64_t sheetFailures = 0;
    ProgressLine progress("inspect");
    MoviePacket packet;
    while (movie.next(&packet)) {
        if (packet.kind == MoviePacket::AUDIO)
            totals.audioBytes += packet.size;
        if (packet.kind != MoviePacket::VIDEO)
            continue;
        const uint64_t n = totals.frames++;
        if (!listFrame(n, packet, info, table, &totals))
            continue;
        std::string why;
        if (cells.wants(n) && !cells.add(n, packet, &why)) {
            ++sheetFailures;
            run.fail(EXIT_REJECTED, "'" + path + "' frame " + std::to_string(n) + " does not decode: " + why);
        }
        if (!table)
            progress.draw(totals.frames, listed);
    }
    if (!table)
        progress.draw(totals.frames, listed, true);

    printTotals(path, info, totals);
    if (!movie.error().empty())
        run.fail(EXIT_REJECTED, "'" + path + "': " + movie.error());
    std::string error;
    if (sheet && !cells.empty() && !cells.write(run.args().get("--sheet"), &error))
        return run.fail(EXIT_USAGE, error);
    return totals.unreadable || sheetFailures || !movie.error().empty() ? EXIT_REJECTED : EXIT_OK;
}

}  // namespace

ZEMO3_COMMAND("inspect", "list the frames of a Zemo 3 movie; draw a contact sheet", cmdInspect);
