// zemo3 render: the project's main job. The emulated host loads the plug-in
// module and renders a composition through it, exactly as the compositing
// application drives an output module: InitOutputSpec, GetDepths,
// StartAdding, AddFrame and AddSoundChunk as frames are rendered, EndAdding,
// GetFlatOutputOptions, DisposeOutputOptions and the death hook.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "codec/zemo3.h"
#include "commands.h"
#include "module/options.h"
#include "emulated_host/host.h"
#include "platform/dialog.h"
#include "platform/platform.h"
#include "progress.h"
#include "media/sources.h"

namespace {

using namespace zemo3;

const char* kUsage =
    "usage: zemo3 render [INPUT | --demo] -o OUT.mov [--compression C] [--size WxH] [--fps RATE]\n"
    "                    [--duration SECONDS] [--no-sound] [--dialog] [--module PATH]\n"
    "\n"
    "Renders a composition through the plug-in module into a Zemo 3 movie.\n"
    "  INPUT          any media file FFmpeg can read, or a numbered image sequence\n"
    "                 (for example shot_%04d.png); its sound comes along\n"
    "  --demo         the built-in demo composition (the default without INPUT):\n"
    "                 moving shapes and gradients with varying alpha and a stereo tone\n"
    "  -o OUT.mov     the movie to write\n"
    "  --compression  normal, normal-alpha, high or high-alpha (or 0..3); default normal\n"
    "  --size WxH     picture size (demo default 1280x720; media: the file's size)\n"
    "  --fps RATE     frame rate, e.g. 25, 29.97 or 30000/1001 (demo default 30)\n"
    "  --duration S   seconds to render (demo default 5; media: the whole file)\n"
    "  --no-sound     render without sound\n"
    "  --dialog       choose the compression in the options dialog first\n"
    "\n"
    "Exit codes: 0 done, 1 the module refused the job or a frame, 2 bad arguments,\n"
    "unreadable input or unwritable output.\n";

int cmdRender(const std::vector<std::string>& in)
{
    std::vector<std::string> argsIn;
    for (const auto& a : in)
        argsIn.push_back(a == "-o" ? "--output" : a);
    Args args = parseArgs(argsIn, {"--output", "--compression", "--size", "--fps", "--duration", "--module"},
                          {"--demo", "--no-sound", "--dialog"});
    if (args.help) {
        std::fputs(kUsage, stdout);
        return EXIT_OK;
    }
    if (!args.error.empty())
        return fail(EXIT_USAGE, "render: " + args.error);
    if (args.positional.size() > 1 || (args.positional.size() == 1 && args.has("--demo")))
        return fail(EXIT_USAGE, "render: give one INPUT or --demo (see zemo3 render --help)");
    if (!args.has("--output"))
        return fail(EXIT_USAGE, "render: -o OUT.mov is required");
    const std::string output = args.get("--output");
    if (args.positional.size() == 1 && platform::sameFile(args.positional[0], output))
        return fail(EXIT_USAGE, "render: the output '" + output + "' is the input being rendered");

    int compression = 0;
    if (args.has("--compression") && (compression = parseCompression(args.get("--compression"))) < 0)
        return fail(EXIT_USAGE, "render: unknown compression '" + args.get("--compression") + "'");
    uint32_t width = 0, height = 0;
    if (args.has("--size") && !parseSizeText(args.get("--size"), &width, &height))
        return fail(EXIT_USAGE, "render: --size must look like 1920x1080");
    int32_t fpsNum = 0, fpsDen = 0;
    A_Fixed fps = 0;
    if (args.has("--fps")) {
        if (!parseRate(args.get("--fps"), &fpsNum, &fpsDen))
            return fail(EXIT_USAGE, "render: --fps must be a rate such as 25, 29.97 or 30000/1001");
        // The host carries the rate as 16.16 fixed point.
        fps = A_Fixed(std::lround(double(fpsNum) / fpsDen * 65536.0));
    }
    double duration = -1;
    if (args.has("--duration")) {
        try {
            duration = std::stod(args.get("--duration"));
        } catch (...) {
        }
        if (!(duration > 0 && duration < 1e6))
            return fail(EXIT_USAGE, "render: --duration must be a positive number of seconds");
    }
    const bool withSound = !args.has("--no-sound");

    // The composition.
    std::unique_ptr<Source> source;
    std::string error;
    if (args.positional.empty()) {
        Composition c;
        if (width)
            c.width = width, c.height = height;
        if (fps)
            c.fpsNum = fpsNum, c.fpsDen = fpsDen;
        double seconds = duration > 0 ? duration : 5.0;
        c.frames = uint64_t(std::llround(seconds * c.fpsNum / c.fpsDen));
        if (!withSound)
            c.sampleRate = 0, c.channels = 0;
        source = openDemo(c);
    } else {
        source = openMedia(args.positional[0], width, height, fpsNum, fpsDen, withSound, &error);
        if (!source)
            return fail(EXIT_USAGE, "render: " + error);
    }
    Composition comp = source->composition();
    if (fps == 0)
        fps = A_Fixed(std::lround(double(comp.fpsNum) / comp.fpsDen * 65536.0));
    uint64_t limit = duration > 0 ? uint64_t(std::llround(duration * comp.fpsNum / comp.fpsDen)) : UINT64_MAX;
    uint64_t expected = std::min<uint64_t>(comp.frames ? comp.frames : UINT64_MAX, limit);
    if (expected == UINT64_MAX)
        expected = 0;

    // A clear message for an output that cannot be written, before the host
    // starts: the module itself reports only that its start failed.
    struct stat before {};
    const bool existed = stat(output.c_str(), &before) == 0;
    {
        FILE* probe = std::fopen(output.c_str(), "ab");
        if (!probe)
            return fail(EXIT_USAGE, "render: cannot write '" + output + "': " + std::strerror(errno));
        std::fclose(probe);
    }

    emulated_host::Host host;
    if (!host.load(args.get("--module", emulated_host::defaultModulePath()), &error))
        return fail(EXIT_USAGE, "render: " + error);
    if (A_Err err = host.callEntry(); err != A_Err_NONE)
        return fail(EXIT_REJECTED, "render: the module refused to register (error " + std::to_string(err) + ")");

    emulated_host::OutputSettings settings;
    settings.width = A_long(comp.width);
    settings.height = A_long(comp.height);
    settings.fps = fps;
    settings.soundRate = comp.sampleRate && comp.channels ? double(comp.sampleRate) : 0.0;
    settings.channels = A_short(comp.channels);
    settings.sampleSize = 2;
    settings.path = platform::utf8ToUtf16(output);

    std::vector<uint8_t> storedBytes = zexport::storedOptionsBytes(uint32_t(compression));

    AEIO_OutSpecH out = host.addOutput(settings, &storedBytes);
    auto refuse = [&](const std::string& what) {
        host.unload();
        if (!existed)
            platform::removeFile(output);
        return fail(EXIT_REJECTED, "render: " + what);
    };
    if (A_Err err = host.initOutputSpec(out); err != A_Err_NONE)
        return refuse("the module could not set up its options (error " + std::to_string(err) + ")");
    if (args.has("--dialog") && !platform::canShowDialogs()) {
        std::fprintf(stderr, "zemo3: render: no terminal, the dialog cannot be shown\n");
    } else if (args.has("--dialog")) {
        bool interacted = false;
        if (A_Err err = host.userOptionsDialog(out, &interacted); err != A_Err_NONE)
            return refuse("the options dialog failed (error " + std::to_string(err) + ")");
    }
    AEIO_SupportedDepthFlags depth = 0;
    if (A_Err err = host.getDepths(out, &depth); err != A_Err_NONE)
        return refuse("the module did not say which depth to render (error " + std::to_string(err) + ")");
    const uint32_t chosen = host.options(out) ? host.options(out)->formatType : uint32_t(compression);

    if (A_Err err = host.startAdding(out); err != A_Err_NONE)
        return refuse("the module refused to start the export (error " + std::to_string(err) + ")");

    ProgressLine progress("render");
    SourcePicture picture;
    std::vector<int16_t> pcm;
    uint64_t frames = 0, samples = 0;
    A_Err frameError = A_Err_NONE;
    for (uint64_t n = 0; n < limit; ++n) {
        if (!source->frame(n, &picture))
            break;
        PF_EffectWorld world{};
        world.world_flags = 0;
        world.rowbytes = A_long(picture.rowBytes);
        world.width = A_long(comp.width);
        world.height = A_long(comp.height);
        world.data = const_cast<uint8_t*>(picture.data);
        if ((frameError = host.addFrame(out, A_long(n), world)) != A_Err_NONE)
            break;
        ++frames;
        if (settings.soundRate > 0) {
            // Sound in chunks of one frame's duration, as a render delivers it.
            const uint64_t end = (n + 1) * uint64_t(comp.sampleRate) * uint64_t(comp.fpsDen) / uint64_t(comp.fpsNum);
            if (end > samples) {
                size_t got = source->sound(samples, size_t(end - samples), &pcm);
                if (got > 0) {
                    host.addSoundChunk(out, A_u_long(got), pcm.data());
                    samples += got;
                }
            }
        }
        progress.draw(frames, expected, false);
    }
    progress.draw(frames, expected, true);
    host.endAdding(out);
    std::vector<uint8_t> flat;
    host.getFlatOutputOptions(out, &flat);
    host.disposeOutputOptions(out);
    host.unload();
    for (const std::string& e : host.errors())
        std::fprintf(stderr, "zemo3: render: host: %s\n", e.c_str());

    if (frameError != A_Err_NONE)
        return fail(EXIT_REJECTED, "render: the module refused frame " + std::to_string(frames) + " (error " +
                                       std::to_string(frameError) + ")");
    if (!source->error().empty())
        return fail(EXIT_USAGE, "render: " + source->error());
    if (frames == 0)
        return fail(EXIT_REJECTED, "render: the composition has no frames");

    struct stat st {};
    const uint64_t bytes = stat(output.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
    const double seconds = progress.elapsedSeconds();
    const double raw = double(frames) * comp.width * comp.height * 4;
    std::printf("%s: %llu frames of %ux%u at %.3f fps, %s, %s\n", output.c_str(), (unsigned long long)frames,
                comp.width, comp.height, double(comp.fpsNum) / comp.fpsDen,
                nox::formatTypeName(chosen),
                samples ? (std::to_string(samples) + " sound samples").c_str() : "no sound");
    std::printf("rendered in %.2f s (%.1f fps); %llu bytes, %.1f:1 against raw 8-bit RGBA\n", seconds,
                seconds > 0 ? frames / seconds : 0.0, (unsigned long long)bytes, bytes ? raw / double(bytes) : 0.0);
    return host.errors().empty() ? EXIT_OK : EXIT_REJECTED;
}

}  // namespace

ZEMO3_COMMAND("render", "render a composition through the plug-in into a Zemo 3 movie", cmdRender);
