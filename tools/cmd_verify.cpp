// zemo3 verify: the command line and the report of the checks in
// verify_movie.h, as text or JSON.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/rational.h>
}

#include "cli.h"
#include "codec/zemo3.h"
#include "commands.h"
#include "media/movie.h"
#ifdef ZEMO3_GPU
#include "player/gpu.h"
#endif
#include "media/reference.h"
#include "progress.h"
#include "verify/verify_movie.h"

namespace {

using namespace zemo3;

const char* kUsageHead =
    "usage: zemo3 verify MOVIE [--reference SRC | --demo [--size WxH] [--fps RATE]\n"
    "                    [--duration S] [--no-sound]] [--min-psnr DB] [--per-frame | --json]\n"
    "       zemo3 verify --gpu MOVIE\n"
    "\n"
    "Reads every packet of a Zemo 3 movie, decodes every frame and checks the\n"
    "structure: one ZMQ3 video stream, its frame count, timestamps 0..n-1 in\n"
    "order with one duration, and the PCM sound stream and its length. With a\n"
    "reference it reports PSNR per channel and SSIM per frame and overall, and\n"
    "the worst frame (alpha is compared only for types that store it).\n"
    "\n";
const char* kUsageTail =
    "  --min-psnr DB    also fail when a frame's PSNR falls below DB\n"
    "  --per-frame      also print each frame's figures against the reference\n"
    "  --json           print the report as JSON on stdout (per-frame figures too)\n"
    "  --gpu            instead: draw every frame with OpenGL (offscreen) from its\n"
    "                   texture as stored and compare with the CPU decode: the largest\n"
    "                   difference per channel and the PSNR; fails above the bound a\n"
    "                   GPU's own palette arithmetic explains\n"
    "\n"
    "Exit codes: 0 every frame decodes and the structure holds, 1 a check failed\n"
    "(each reason on stderr), 2 bad arguments or an unreadable file.\n";

std::string jsonText(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\', out += c;
        else if (uint8_t(c) < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(uint8_t(c)));
            out += buffer;
        } else
            out += c;
    }
    return out + "\"";
}

std::string jsonNumber(double v)
{
    if (std::isinf(v))
        return "null";  // a lossless channel: JSON has no infinity
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4f", v);
    return buffer;
}

// zemo3 verify --gpu: every frame through the GPU path against the CPU decode.
int verifyOnGpu(const std::string& path)
{
#ifdef ZEMO3_GPU
    gpu::Comparison c;
    std::string error;
    if (!gpu::compareWithCpu(path, &c, &error))
        return fail(EXIT_REJECTED, "verify: " + error);
    std::printf("%lld frames drawn by %s\n", static_cast<long long>(c.frames), c.renderer.c_str());
    char psnr[32] = "inf";
    if (!std::isinf(c.psnr))
        std::snprintf(psnr, sizeof psnr, "%.2f", c.psnr);
    std::printf("largest difference from the CPU decode: R %d, G %d, B %d, A %d (bound %d, %d, %d, %d); PSNR %s dB\n",
                c.maxDifference[0], c.maxDifference[1], c.maxDifference[2], c.maxDifference[3], c.bound[0], c.bound[1],
                c.bound[2], c.bound[3], psnr);
    for (int ch = 0; ch < 4; ++ch)
        if (c.maxDifference[ch] > c.bound[ch])
            return fail(EXIT_REJECTED, "verify: the GPU's pictures differ from the CPU decode beyond the bound");
    return EXIT_OK;
#else
    (void)path;
    return fail(EXIT_USAGE, "verify: --gpu needs the playback library, which this build does not have");
#endif
}

// The movie's frame rate from one frame's duration; 0 when unknown.
double frameRate(const VerifyReport& report)
{
    const AVRational frameTime{report.frameTimeNum, report.frameTimeDen};
    return frameTime.num ? 1.0 / av_q2d(frameTime) : 0.0;
}

std::string typeName(const VerifyReport& report)
{
    return report.movieType == UINT32_MAX ? "unknown type" : nox::formatTypeName(report.movieType);
}

std::string jsonPsnr(const FrameQuality& q)
{
    return "{\"r\": " + jsonNumber(q.psnr[0]) + ", \"g\": " + jsonNumber(q.psnr[1]) +
           ", \"b\": " + jsonNumber(q.psnr[2]) + ", \"a\": " + (q.alpha ? jsonNumber(q.psnr[3]) : "null") +
           ", \"all\": " + jsonNumber(q.psnrAll) + "}";
}

void printJson(const std::string& path, const MovieInfo& info, const Reference& ref, const VerifyReport& report)
{
    const Problems& problems = report.problems;
    const QualityTotals& totals = report.totals;
    std::printf("{\n  \"movie\": %s,\n  \"ok\": %s,\n", jsonText(path).c_str(), problems.empty() ? "true" : "false");
    std::printf("  \"problems\": [");
    for (size_t i = 0; i < problems.list.size(); ++i)
        std::printf("%s%s", i ? ", " : "", jsonText(problems.list[i]).c_str());
    std::printf("],\n  \"width\": %u, \"height\": %u, \"frames\": %llu, \"tag\": %s,\n", info.width, info.height,
                (unsigned long long)report.frames.size(), jsonText(tagText(info.codecTag)).c_str());
    std::printf("  \"type\": %s, \"typeName\": %s, \"frameRate\": %s,\n",
                report.movieType == UINT32_MAX ? "null" : std::to_string(report.movieType).c_str(),
                jsonText(typeName(report)).c_str(), jsonNumber(frameRate(report)).c_str());
    if (info.audio >= 0)
        std::printf("  \"sound\": {\"codec\": %s, \"channels\": %d, \"sampleRate\": %d, \"samples\": %llu},\n",
                    jsonText(info.audioCodec).c_str(), info.channels, info.sampleRate,
                    (unsigned long long)report.audioSamples);
    else
        std::printf("  \"sound\": null,\n");
    if (totals.frames) {
        FrameQuality overall;
        for (int c = 0; c < 4; ++c)
            overall.psnr[c] = totals.psnr(c);
        overall.psnrAll = totals.psnrAll();
        overall.alpha = totals.alpha;
        std::printf("  \"reference\": %s,\n", jsonText(ref.name).c_str());
        std::printf("  \"psnr\": %s,\n", jsonPsnr(overall).c_str());
        std::printf("  \"ssim\": %s,\n", jsonNumber(totals.ssim()).c_str());
        std::printf("  \"worst\": {\"frame\": %llu, \"psnr\": %s, \"ssim\": %s},\n",
                    (unsigned long long)totals.worstFrame, jsonNumber(totals.worst.psnrAll).c_str(),
                    jsonNumber(totals.worst.ssim).c_str());
    }
    std::printf("  \"perFrame\": [");
    for (size_t i = 0; i < report.frames.size(); ++i) {
        const FrameRecord& r = report.frames[i];
        std::printf("%s\n    {\"frame\": %zu, \"pts\": %lld, \"bytes\": %zu, \"type\": %u, \"decoded\": %s",
                    i ? "," : "", i, (long long)r.pts, r.bytes, r.type, r.decoded ? "true" : "false");
        if (r.compared)
            std::printf(", \"psnr\": %s, \"ssim\": %s", jsonPsnr(r.quality).c_str(),
                        jsonNumber(r.quality.ssim).c_str());
        std::printf("}");
    }
    std::printf("%s]\n}\n", report.frames.empty() ? "" : "\n  ");
}

void printPerFrame(const std::vector<FrameRecord>& frames)
{
    std::printf("  %7s %7s %7s %7s %7s %7s %8s\n", "frame", "R", "G", "B", "A", "all", "SSIM");
    for (size_t i = 0; i < frames.size(); ++i) {
        const FrameQuality& q = frames[i].quality;
        if (frames[i].compared)
            std::printf("  %7zu %7s %7s %7s %7s %7s %8.5f\n", i, dbText(q.psnr[0]).c_str(), dbText(q.psnr[1]).c_str(),
                        dbText(q.psnr[2]).c_str(), q.alpha ? dbText(q.psnr[3]).c_str() : "-", dbText(q.psnrAll).c_str(),
                        q.ssim);
    }
}

void printText(const std::string& path, const MovieInfo& info, const Reference& ref, const VerifyReport& report,
               bool perFrame)
{
    const QualityTotals& totals = report.totals;
    std::printf("%s: %llu frames of %ux%u at %.3f fps, %s\n", path.c_str(), (unsigned long long)report.frames.size(),
                info.width, info.height, frameRate(report), typeName(report).c_str());
    if (info.audio >= 0)
        std::printf("sound: %s, %d channels at %d Hz, %llu samples\n", info.audioCodec.c_str(), info.channels,
                    info.sampleRate, (unsigned long long)report.audioSamples);
    else
        std::printf("sound: none\n");
    if (totals.frames) {
        std::printf("against %s (%llu frames):\n", ref.name.c_str(), (unsigned long long)totals.frames);
        std::printf("  PSNR  R %s  G %s  B %s", dbText(totals.psnr(0)).c_str(), dbText(totals.psnr(1)).c_str(),
                    dbText(totals.psnr(2)).c_str());
        if (totals.alpha)
            std::printf("  A %s", dbText(totals.psnr(3)).c_str());
        std::printf(" dB, overall %s dB\n", dbText(totals.psnrAll()).c_str());
        std::printf("  SSIM  %.5f\n", totals.ssim());
        std::printf("  worst frame %llu: PSNR %s dB, SSIM %.5f\n", (unsigned long long)totals.worstFrame,
                    dbText(totals.worst.psnrAll).c_str(), totals.worst.ssim);
        if (perFrame)
            printPerFrame(report.frames);
    }
    std::printf("%s\n", report.problems.empty() ? "verified: every frame decodes and the structure holds"
                                                : "verification FAILED");
}

// The --min-psnr floor; -1 without one.
bool readMinPsnr(CommandRun& run, double* minPsnr)
{
    if (!run.args().has("--min-psnr"))
        return true;
    try {
        *minPsnr = std::stod(run.args().get("--min-psnr"));
    } catch (...) {
    }
    return (*minPsnr > 0 && *minPsnr < 1000) || run.stop(EXIT_USAGE, "--min-psnr must be a positive number of dB");
}

int cmdVerify(const std::vector<std::string>& in)
{
    std::set<std::string> valued = kReferenceOptions, flags = kReferenceFlags;
    valued.insert("--min-psnr");
    flags.insert({"--json", "--per-frame", "--gpu"});
    CommandRun run("verify", std::string(kUsageHead) + kReferenceUsage + kUsageTail);
    double minPsnr = -1;
    if (!run.parse(in, valued, flags) || !run.oneMovie() || !readMinPsnr(run, &minPsnr) || !run.movieExists())
        return run.exitCode();
    const std::string& path = run.movie();
    if (run.args().has("--gpu"))
        return verifyOnGpu(path);
    const bool json = run.args().has("--json");
    MovieReader movie;
    Reference ref;
    auto verdictForJson = [&](const std::string& error) {
        if (json)  // a JSON reader still gets its verdict
            std::printf("{\n  \"movie\": %s,\n  \"ok\": false,\n  \"problems\": [%s]\n}\n", jsonText(path).c_str(),
                        jsonText(error).c_str());
    };
    if (!run.openMovie(&movie, MovieNeed::Any, verdictForJson) || !run.openReference(movie.info(), &ref))
        return run.exitCode();

    ProgressLine progressLine("verify");
    const VerifyReport report = verifyMovie(
        movie, ref, minPsnr, [&](uint64_t done, uint64_t total, bool last) { progressLine.draw(done, total, last); });
    if (json)
        printJson(path, movie.info(), ref, report);
    else
        printText(path, movie.info(), ref, report, run.args().has("--per-frame"));
    std::fflush(stdout);
    for (const std::string& p : report.problems.list)
        run.fail(EXIT_REJECTED, path + ": " + p);
    if (report.problems.dropped)
        run.fail(EXIT_REJECTED, path + ": and " + std::to_string(report.problems.dropped) + " more problems");
    return report.problems.empty() ? EXIT_OK : EXIT_REJECTED;
}

}  // namespace

ZEMO3_COMMAND("verify", "check a Zemo 3 movie: structure, every frame, quality against a source", cmdVerify);
