// zemo3 inspect: what a Zemo 3 movie holds, frame by frame, and on request a
// contact sheet of its decoded pictures (beside their source when one is
// given).
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli.h"
#include "codec/zemo3.h"
#include "commands.h"
#include "media/contact_sheet.h"
#include "media/movie.h"
#include "media/reference.h"
#include "progress.h"
#include "reader/pictures.h"

namespace {

using namespace zemo3;

const char* kUsageHead =
    "usage: zemo3 inspect MOVIE [--totals] [--sheet SHEET.png [--sheet-frames N] [--sheet-size N]\n"
    "                     [--beside OTHER]]\n"
    "                     [--reference SRC | --demo [--size WxH] [--fps RATE] [--duration S]]\n"
    "\n"
    "Prints one line per frame (timestamp, texture tag and format version, packed\n"
    "or raw payload, packet and texture bytes, compression ratio) and the totals.\n"
    "  --totals          print only the totals\n"
    "  --sheet FILE.png  also write a contact sheet: N decoded frames spread over\n"
    "                    the movie, left to right and top to bottom, over a\n"
    "                    checkerboard where they are transparent; with a reference\n"
    "                    each frame has its source on its left\n"
    "  --sheet-frames N  frames on the sheet (default 12, at most 100)\n"
    "  --sheet-size N    each picture N pixels on its longer side (16 to 2048),\n"
    "                    pixels repeated where that is larger (blocks up close);\n"
    "                    default 240 or smaller\n"
    "  --beside OTHER    each frame with the same frame of OTHER, a Zemo 3 movie of\n"
    "                    the same size, on its right (renders of one source at\n"
    "                    --quality fast and best, say)\n";
const char* kUsageTail =
    "\n"
    "Exit codes: 0 done, 1 a frame header is unreadable or a sheet frame does not\n"
    "decode, 2 bad arguments, unreadable input or unwritable output.\n";

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

// Writes the sheet and says which frames it shows.
bool writeSheet(const ContactSheet& sheet, const std::string& path, const Reference& ref, const std::string& other,
                std::string* error)
{
    if (!sheet.write(path, error))
        return false;
    std::printf("sheet: %s, frames", path.c_str());
    for (const uint64_t frame : sheet.frames())
        std::printf(" %llu", (unsigned long long)frame);
    std::printf("%s%s\n", sheet.withSources() ? (", each beside its source from " + ref.name).c_str() : "",
                sheet.withOther() ? (", and beside '" + other + "'").c_str() : "");
    return true;
}

// The options besides the movie: false when they do not do.
bool readSheetOptions(CommandRun& run, uint64_t* sheetFrames, uint64_t* sheetSize)
{
    const Args& args = run.args();
    if (args.has("--sheet-frames") && (!parseUint(args.get("--sheet-frames"), 100, sheetFrames) || *sheetFrames == 0))
        return run.stop(EXIT_USAGE, "--sheet-frames must be a number from 1 to 100");
    if (args.has("--sheet-size") && (!parseUint(args.get("--sheet-size"), 2048, sheetSize) || *sheetSize < 16))
        return run.stop(EXIT_USAGE, "--sheet-size must be a number from 16 to 2048");
    if (!args.has("--sheet") && (args.has("--reference") || args.has("--demo") || args.has("--beside")))
        return run.stop(EXIT_USAGE,
                        "a reference or another movie is shown only on a contact sheet: add --sheet FILE.png");
    return true;
}

// The movie to show beside this one, when one is given: a Zemo 3 movie of the same size.
bool openOther(CommandRun& run, const MovieInfo& info, MovieReader* other)
{
    if (!run.args().has("--beside"))
        return true;
    const std::string& path = run.args().get("--beside");
    std::string error;
    if (!other->open(path, &error))
        return run.stop(EXIT_USAGE, error);
    const MovieInfo& o = other->info();
    if (o.video < 0 || o.codecTag != kMovieTag)
        return run.stop(EXIT_USAGE, "'" + path + "' has no Zemo 3 video stream");
    if (o.width != info.width || o.height != info.height)
        return run.stop(EXIT_USAGE, "the movie is " + std::to_string(info.width) + "x" + std::to_string(info.height) +
                                        ", '" + path + "' " + std::to_string(o.width) + "x" + std::to_string(o.height));
    return true;
}

// The other movie's frame n (its video frames read in order, `read` of them
// so far); false when it has no such frame.
bool otherFrame(MovieReader& other, uint64_t n, uint64_t* read, MoviePacket* packet)
{
    while (*read <= n) {
        if (!other.next(packet))
            return false;
        if (packet->kind == MoviePacket::VIDEO)
            ++*read;
    }
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
    valued.insert({"--sheet", "--sheet-frames", "--sheet-size", "--beside"});
    flags.insert("--totals");
    CommandRun run("inspect", std::string(kUsageHead) + kReferenceUsage + kUsageTail);
    uint64_t sheetFrames = 12, sheetSize = 0, otherRead = 0;
    MovieReader movie, other;
    Reference ref;
    if (!run.parse(in, valued, flags) || !run.oneMovie() || !readSheetOptions(run, &sheetFrames, &sheetSize) ||
        !run.movieExists() || !run.openMovie(&movie, MovieNeed::Video) ||
        !openSameSizeReference(run, movie.info(), &ref) || !openOther(run, movie.info(), &other))
        return run.exitCode();
    const std::string beside = run.args().has("--beside") ? run.args().get("--beside") : "";
    const std::string& path = run.movie();
    const MovieInfo& info = movie.info();
    const bool sheet = run.args().has("--sheet"), table = !run.args().has("--totals");
    ContactSheet cells(info, sheet ? sheetFrames : 0, ref, uint32_t(sheetSize));

    if (table)
        std::printf("%7s %10s  %-4s %3s  %-6s %10s %10s %8s\n", "frame", "pts", "tag", "ver", "kind", "bytes",
                    "texture", "ratio");
    const uint64_t listed = info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : 0;
    Totals totals;
    uint64_t sheetFailures = 0;
    ProgressLine progress("inspect");
    MoviePacket packet, besidePacket;
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
        if (cells.wants(n) && !beside.empty()) {
            const bool have = otherFrame(other, n, &otherRead, &besidePacket);
            if (!cells.addBeside(have ? besidePacket : MoviePacket{}, &why)) {
                ++sheetFailures;
                run.fail(EXIT_REJECTED, "'" + beside + "' " +
                                            (have ? "frame " + std::to_string(n) + " does not decode: " + why
                                                  : "has no frame " + std::to_string(n)));
            }
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
    if (sheet && !cells.empty() && !writeSheet(cells, run.args().get("--sheet"), ref, beside, &error))
        return run.fail(EXIT_USAGE, error);
    return totals.unreadable || sheetFailures || !movie.error().empty() ? EXIT_REJECTED : EXIT_OK;
}

}  // namespace

ZEMO3_COMMAND("inspect", "list the frames of a Zemo 3 movie; draw a contact sheet", cmdInspect);
