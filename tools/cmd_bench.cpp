// zemo3 bench: our frame compressor against FFmpeg's HAP encoder on the same
// frames, on one thread and on all of them, with the size and quality each
// gets, and the end-to-end export rate through the emulated host.
//
// The measuring is bench/harness.h's; this file reads the options and
// prints the rows.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/harness.h"
#include "cli.h"
#include "codec/zemo3.h"
#include "commands.h"
#include "content/content.h"
#include "core/quality.h"
#include "core/simd.h"
#include "emulated_host/render.h"
#include "platform/platform.h"

namespace {

using namespace zemo3;
using namespace zemo3::bench;

const char* kUsage =
    "usage: zemo3 bench [--size WxH] [--frames N] [--threads N] [--content NAMES] [--types LIST]\n"
    "                   [--repeat N] [--kernel LEVEL] [--quality Q] [--no-hap] [--no-render]\n"
    "                   [--export-frames N] [--module PATH]\n"
    "\n"
    "Times the Zemo 3 compressor against FFmpeg's HAP encoder on the same clip, on\n"
    "one thread and on N, and the export through the plug-in in the emulated host.\n"
    "  --size WxH      picture size (default 1920x1080)\n"
    "  --frames N      frames in the clip (default 16)\n"
    "  --threads N     threads of the multi-threaded runs (default: all cores)\n"
    "  --content NAMES comma-separated, taken in turn: testsrc2, mandelbrot,\n"
    "                  smptehdbars, photo, screen, noise (default: the first four)\n"
    "  --types LIST    format types, comma-separated (default 0,1,2,3); HAP peers:\n"
    "                  0 hap, 1 hap_alpha, 2 and 3 hap_q\n"
    "  --repeat N      runs per figure; the median is printed (default 3)\n"
    "  --kernel LEVEL  cap the instruction set: scalar, sse2, sse41, avx2 or avx512\n"
    "  --quality Q     our encoders' tier, fast (default) or best, as zemo3 render takes it\n"
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
    "(hap_q keeps none), and the SSIM of R, G and B. Ours is decoded by the frame\n"
    "reader, HAP by FFmpeg.\n"
    "The export is expected to reach 0.90 of the compressor's rate on N threads;\n"
    "a missed target is reported, not an error. Exit codes: 0 done, 1 an encoder\n"
    "or the export failed, 2 bad arguments.\n";

constexpr double kRenderTarget = 0.90;

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
    std::printf("%-4u  %-10s %7u  %9s  %8.2f  %11.0f  %8s  %8s  %8s\n", type, encoder.c_str(), threads,
                formatNumber(f.fps, 2).c_str(), f.cpuMs, f.bytesPerFrame, formatNumber(q.colour, 2).c_str(),
                formatNumber(q.alpha, 2).c_str(), formatNumber(q.ssim, 4).c_str());
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
    if (args.has("--quality")) {
        const std::string name = args.get("--quality");
        if (!nox::parseQuality(name))
            return fail(EXIT_USAGE, "bench: --quality must be fast or best");
        // Our compressors and the module's read it when they are made.
        platform::setEnvironment("ZEMO_QUALITY", name);
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
    for (const auto& rgba : m->clip)
        m->argb.push_back(toArgb(rgba));
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
    std::printf("kernel %s, quality %s, %u cores, load average %s at start\n",
                nox::simdLevelName(nox::activeSimdLevel()), nox::qualityName(nox::requestedQuality()),
                std::thread::hardware_concurrency(), loadText);
    if (o.withHap)
        std::printf("HAP: FFmpeg's encoder, one frame per thread, Snappy second stage in one chunk\n");
    std::printf("\n%-4s  %-10s %7s  %9s  %8s  %11s  %8s  %8s  %8s\n", "type", "encoder", "threads", "fps", "cpu ms",
                "bytes/frame", "PSNR RGB", "PSNR A", "SSIM RGB");
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
    OursBench ours(type, o.width, o.height);
    Quality quality;
    if (!ours.quality(m.clip, &quality, error))
        return false;
    for (size_t k = 0; k < threadCounts.size(); ++k) {
        if (!ours.time(m.clip, threadCounts[k], int(o.repeat), &s->ours[k], error))
            return false;
        printRow(type, std::string("zemo3 ") + kTextureNames[type], threadCounts[k], s->ours[k], quality);
        std::fflush(stdout);
    }
    HapBench hap(type, o.width, o.height);
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
                   {"--size", "--frames", "--threads", "--content", "--types", "--repeat", "--kernel", "--quality",
                    "--module", "--export-frames"},
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
