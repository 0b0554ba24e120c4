// zemo3 render: the project's main job. The emulated host loads the plug-in
// module and renders a composition through it (emulated_host/render.h),
// exactly as the compositing application drives an output module.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "codec/zemo3.h"
#include "commands.h"
#include "core/quality.h"
#include "core/rational.h"
#include "emulated_host/render.h"
#include "media/sources.h"
#include "platform/platform.h"
#include "progress.h"

namespace {

using namespace zemo3;

const char* kUsage =
    "usage: zemo3 render [INPUT | --demo] -o OUT.mov [--compression C] [--quality Q] [--size WxH]\n"
    "                    [--fps RATE] [--duration SECONDS] [--start A] [--end B] [--no-sound] [--dialog]\n"
    "                    [--module PATH]\n"
    "\n"
    "Renders a composition through the plug-in module into a Zemo 3 movie.\n"
    "  INPUT          any media file FFmpeg can read, or a numbered image sequence\n"
    "                 (for example shot_%04d.png); its sound comes along\n"
    "  --demo         the built-in demo composition (the default without INPUT):\n"
    "                 moving shapes and gradients with varying alpha and a stereo tone\n"
    "  -o OUT.mov     the movie to write\n"
    "  --compression  normal, normal-alpha, high or high-alpha (or 0..3); default normal\n"
    "  --quality Q    fast (the default: the module's own encoders) or best: a harder\n"
    "                 search for each block, slower, in the same format\n"
    "  --size WxH     picture size (demo default 1280x720; media: the file's size)\n"
    "  --fps RATE     frame rate, e.g. 25, 29.97 or 30000/1001 (demo default 30)\n"
    "  --duration S   seconds to render (demo default 5; media: the whole file)\n"
    "  --start A      the first frame to render (frames count from 0); default 0\n"
    "  --end B        the last frame to render; default and at most the last one.\n"
    "                 A range holds exactly the frames and the sound that the whole\n"
    "                 render holds for them: ranges rendered apart join losslessly\n"
    "                 (zemo3 join) into the whole render\n"
    "  --no-sound     render without sound\n"
    "  --dialog       choose the compression in the options dialog first\n"
    "\n" ZEMO3_PARTIAL_OUTPUT_USAGE
    "\n"
    "Exit codes: 0 done, 1 the module refused the job or a frame, 2 bad arguments,\n"
    "unreadable input or unwritable output.\n";

// What the arguments ask for; sizes and rates left at 0 come from the source.
struct Request {
    std::string input;  // empty: the demo
    std::string output;
    std::string module;
    int compression = 0;
    uint32_t width = 0, height = 0;
    int32_t fpsNum = 0, fpsDen = 0;
    double duration = -1;
    uint64_t start = 0, end = UINT64_MAX;  // frames, inclusive
    bool withSound = true;
    bool dialog = false;
    nox::EncodeQuality quality = nox::EncodeQuality::Fast;
};

bool readRequest(CommandRun& run, Request* r)
{
    const Args& args = run.args();
    if (args.positional.size() > 1 || (args.positional.size() == 1 && args.has("--demo")))
        return run.stop(EXIT_USAGE, "give one INPUT or --demo (see zemo3 render --help)");
    if (!args.has("--output"))
        return run.stop(EXIT_USAGE, "-o OUT.mov is required");
    r->input = args.positional.empty() ? "" : args.positional[0];
    r->output = args.get("--output");
    if (!r->input.empty() && platform::sameFile(r->input, r->output))
        return run.stop(EXIT_USAGE, "the output '" + r->output + "' is the input being rendered");
    if (args.has("--compression") && (r->compression = parseCompression(args.get("--compression"))) < 0)
        return run.stop(EXIT_USAGE, "unknown compression '" + args.get("--compression") + "'");
    if (args.has("--quality")) {
        const std::optional<nox::EncodeQuality> quality = nox::parseQuality(args.get("--quality"));
        if (!quality)
            return run.stop(EXIT_USAGE, "--quality must be fast or best");
        r->quality = *quality;
    }
    std::string why;
    if (args.has("--size") && !parseSizeText(args.get("--size"), &r->width, &r->height, &why))
        return run.stop(EXIT_USAGE, why);
    if (args.has("--fps") && !parseRate(args.get("--fps"), &r->fpsNum, &r->fpsDen))
        return run.stop(EXIT_USAGE, std::string("--fps must be ") + kRateRule);
    if (args.has("--duration")) {
        try {
            r->duration = std::stod(args.get("--duration"));
        } catch (...) {
        }
        if (!(r->duration > 0 && r->duration < 1e6))
            return run.stop(EXIT_USAGE, "--duration must be a positive number of seconds");
    }
    for (const auto& [name, value] : {std::pair{"--start", &r->start}, std::pair{"--end", &r->end}})
        if (args.has(name) && !parseUint(args.get(name), UINT32_MAX, value))
            return run.stop(EXIT_USAGE, std::string(name) + " must be a frame number (frames count from 0)");
    if (r->end < r->start)
        return run.stop(EXIT_USAGE,
                        "--end " + std::to_string(r->end) + " comes before --start " + std::to_string(r->start));
    r->withSound = !args.has("--no-sound");
    r->dialog = args.has("--dialog");
    r->module = args.get("--module", emulated_host::defaultModulePath());
    return true;
}

// The demo with the settings asked for, or the media file.
std::unique_ptr<Source> openSource(const Request& r, std::string* error)
{
    if (!r.input.empty())
        return openMedia(r.input, r.width, r.height, r.fpsNum, r.fpsDen, r.withSound, error);
    return openDemo(demoComposition(r.width, r.height, r.fpsNum, r.fpsDen, r.duration, r.withSound));
}

// The source's pictures and sound for the module, with a progress line that
// starts with the first frame.
class SourceFeed : public emulated_host::RenderFeed {
public:
    SourceFeed(Source& source, uint64_t expected) : source_(source), expected_(expected) {}

    bool picture(uint64_t n, const uint8_t** argb, size_t* rowBytes) override
    {
        if (!line_)
            line_.emplace("render", ProgressLine::PERCENT_LINES);
        SourcePicture picture;
        if (!source_.frame(n, &picture))
            return false;
        *argb = picture.data;
        *rowBytes = picture.rowBytes;
        return true;
    }
    size_t sound(uint64_t start, size_t count, std::vector<int16_t>* samples) override
    {
        return source_.sound(start, count, samples);
    }
    void progress(uint64_t frames, bool last) override
    {
        if (line_)
            line_->draw(frames, expected_, last);
    }
    void dialogUnavailable() override
    {
        std::fprintf(stderr, "zemo3: render: no terminal, the dialog cannot be shown\n");
    }
    double seconds() const { return line_ ? line_->elapsedSeconds() : 0; }
    void finish()
    {
        if (line_)
            line_->finish();
    }

private:
    Source& source_;
    uint64_t expected_;  // for the progress line; 0: unknown
    std::optional<ProgressLine> line_;
};

emulated_host::RenderJob renderJob(const Request& r, const Composition& comp, const std::string& path)
{
    emulated_host::RenderJob job;
    job.path = path;
    job.width = comp.width;
    job.height = comp.height;
    job.fpsNum = comp.fpsNum;
    job.fpsDen = comp.fpsDen;
    job.sampleRate = comp.sampleRate;
    job.channels = comp.channels;
    job.formatType = uint32_t(r.compression);
    job.dialog = r.dialog;
    job.bestQuality = r.quality == nox::EncodeQuality::Best;
    if (r.duration > 0)
        job.frameLimit = nox::framesInSeconds(r.duration, comp.fpsNum, comp.fpsDen);
    job.firstFrame = r.start;
    if (r.end != UINT64_MAX)
        job.frameLimit = std::min(job.frameLimit, r.end + 1);
    return job;
}

// The frames the render should come to, for the progress line; 0 when
// neither the source nor the duration tells.
uint64_t expectedFrames(const Composition& comp, const emulated_host::RenderJob& job)
{
    const uint64_t end = std::min(comp.frames ? comp.frames : UINT64_MAX, job.frameLimit);
    return end == UINT64_MAX || end <= job.firstFrame ? 0 : end - job.firstFrame;
}

// Why the module would not begin, by the step that refused.
std::string refusal(const emulated_host::RenderResult& result)
{
    using emulated_host::RenderStep;
    const std::string error = " (error " + std::to_string(result.err) + ")";
    switch (result.failed) {
    case RenderStep::InitOutputSpec:
        return "the module could not set up its options" + error;
    case RenderStep::UserOptionsDialog:
        return "the options dialog failed" + error;
    case RenderStep::GetDepths:
        return "the module did not say which depth to render" + error;
    default:
        return "the module refused to start the export" + error;
    }
}

bool begun(const emulated_host::RenderResult& result)
{
    using emulated_host::RenderStep;
    return result.failed == RenderStep::Done || result.failed == RenderStep::AddFrame ||
           result.failed == RenderStep::EndAdding;
}

// Text with every occurrence of `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = 0; !from.empty() && (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// The module's warnings and errors (it logs why it refuses what it refuses),
// printed as they stand but for the partial name, which is shown as the
// output's own.
void printModuleLines(const std::vector<std::string>& lines, const PartialOutput& output, const std::string& name)
{
    for (const std::string& line : lines) {
        if (line.rfind("WARNING:", 0) != 0 && line.rfind("  ERROR:", 0) != 0)
            continue;
        const std::string shown = replaced(line, output.partial(), name);
        std::fprintf(stderr, "zemo3: render: module: %s\n", shown.c_str() + shown.find_first_not_of(' '));
    }
}

// The outcome of a render that began: the first failure, or the summary.
int report(CommandRun& run, const Request& r, const Composition& comp, const Source& source,
           const emulated_host::RenderResult& result, double seconds)
{
    if (std::string writeFailure = result.writeFailure;
        !writeFailure.empty() && result.failed != emulated_host::RenderStep::Done) {
        writeFailure[0] = char(std::tolower(uint8_t(writeFailure[0])));
        return run.fail(EXIT_REJECTED, writeFailure + " while writing '" + r.output +
                                           "' (the module stopped at frame " + std::to_string(result.frames) + ")");
    }
    if (result.failed == emulated_host::RenderStep::AddFrame)
        return run.fail(EXIT_REJECTED, "the module refused frame " + std::to_string(result.frames) + " (error " +
                                           std::to_string(result.err) + ")");
    if (!source.error().empty())
        return run.fail(EXIT_USAGE, source.error());
    if (result.frames == 0 && r.start > 0)
        return run.fail(EXIT_USAGE, "--start " + std::to_string(r.start) + " lies past the composition's last frame");
    if (result.frames == 0)
        return run.fail(EXIT_REJECTED, "the composition has no frames");
    const uint64_t bytes = platform::fileSize(r.output).value_or(0);
    const double raw = double(result.frames) * comp.width * comp.height * 4;
    const std::string range = r.start || r.end != UINT64_MAX ? " (" + std::to_string(r.start) + " to " +
                                                                   std::to_string(r.start + result.frames - 1) + ")"
                                                             : "";
    std::printf("%s: %llu frames%s of %ux%u at %.3f fps, %s (%s), %s\n", r.output.c_str(),
                (unsigned long long)result.frames, range.c_str(), comp.width, comp.height,
                double(comp.fpsNum) / comp.fpsDen, nox::formatTypeName(result.formatType), nox::qualityName(r.quality),
                result.samples ? (std::to_string(result.samples) + " sound samples").c_str() : "no sound");
    std::printf("rendered in %.2f s (%.1f fps); %llu bytes, %.1f:1 against raw 8-bit RGBA\n", seconds,
                seconds > 0 ? result.frames / seconds : 0.0, (unsigned long long)bytes,
                bytes ? raw / double(bytes) : 0.0);
    return EXIT_OK;
}

int cmdRender(const std::vector<std::string>& in)
{
    CommandRun run("render", kUsage);
    Request request;
    if (!run.parse(in, {"--output", "--compression", "--quality", "--size", "--fps", "--duration", "--start", "--end", "--module"},
                   {"--demo", "--no-sound", "--dialog"}) ||
        !readRequest(run, &request))
        return run.exitCode();
    std::string error;
    const std::unique_ptr<Source> source = openSource(request, &error);
    if (!source)
        return run.fail(EXIT_USAGE, error);
    const Composition comp = source->composition();
    if (const std::string limit = pictureSizeLimit(comp.width, comp.height); !limit.empty())
        return run.fail(EXIT_USAGE, "the picture size " + limit);

    // A clear message for an output that cannot be written, before the host
    // starts: the module itself reports only that its start failed.
    PartialOutput output(request.output);
    if (!output.writable(&error))
        return run.fail(EXIT_USAGE, "cannot write '" + request.output + "': " + error);

    emulated_host::ModuleSession session;
    if (const auto step = session.open(request.module, &error); step != emulated_host::RenderStep::Done)
        return run.fail(step == emulated_host::RenderStep::Load ? EXIT_USAGE : EXIT_REJECTED, error);
    const emulated_host::RenderJob job = renderJob(request, comp, output.partial());
    if (!source->skip(job.firstFrame, emulated_host::firstSampleOf(job, job.firstFrame)))
        return run.fail(EXIT_USAGE, source->error().empty() ? "--start " + std::to_string(request.start) +
                                                                  " lies past the composition's last frame"
                                                            : source->error());
    SourceFeed feed(*source, expectedFrames(comp, job));
    const emulated_host::RenderResult result = session.render(job, feed);
    session.close();
    printModuleLines(session.host().moduleLog(), output, request.output);
    if (!begun(result))
        return run.fail(EXIT_REJECTED, refusal(result));
    for (const std::string& e : session.errors())
        std::fprintf(stderr, "zemo3: render: host: %s\n", e.c_str());
    if (result.failed == emulated_host::RenderStep::Done && result.frames > 0 && source->error().empty() &&
        !output.commit(&error))
        return run.fail(EXIT_USAGE, error);
    const int code = report(run, request, comp, *source, result, feed.seconds());
    if (code == EXIT_OK)
        feed.finish();
    return code == EXIT_OK && !session.errors().empty() ? EXIT_REJECTED : code;
}

}  // namespace

ZEMO3_COMMAND("render", "render a composition through the plug-in into a Zemo 3 movie", cmdRender);
