// zemo3 options: loads the plug-in module into the emulated host and shows
// what the host would show for an output module using the format: the format
// name, the output's description and the render depth, and with --dialog the
// options dialog itself.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "emulated_host/render.h"
#include "module/options.h"
#include "platform/dialog.h"

namespace {

const char* depthText(AEIO_SupportedDepthFlags depth)
{
    switch (depth) {
    case AEIO_SupportedDepthFlags_DEPTH_24:
        return "8 bits per channel, no alpha";
    case AEIO_SupportedDepthFlags_DEPTH_32:
        return "8 bits per channel with alpha";
    case AEIO_SupportedDepthFlags_DEPTH_64:
        return "16 bits per channel with alpha";
    default:
        return "unknown";
    }
}

const char* kUsage =
    "usage: zemo3 options [--compression normal|normal-alpha|high|high-alpha|0..3]\n"
    "                     [--dialog] [--module PATH]\n\n"
    "Loads the plug-in module into the emulated host, sets up one output module\n"
    "(with the given compression, as a stored project would hold it) and prints\n"
    "what the host shows: the format, the output's description and the render\n"
    "depth. --dialog opens the options dialog on this terminal first.\n";

int cmdOptions(const std::vector<std::string>& in)
{
    using namespace zemo3;
    CommandRun run("options", kUsage);
    if (!run.parse(in, {"--compression", "--module"}, {"--dialog"}))
        return run.exitCode();
    const Args& args = run.args();
    if (!args.positional.empty())
        return run.fail(EXIT_USAGE, "unexpected argument '" + args.positional[0] + "'");

    std::vector<uint8_t> stored;
    if (args.has("--compression")) {
        int type = parseCompression(args.get("--compression"));
        if (type < 0)
            return run.fail(EXIT_USAGE, "unknown compression '" + args.get("--compression") + "'");
        stored = zexport::storedOptionsBytes(uint32_t(type));
    }
    bool dialog = args.has("--dialog");
    if (dialog && !platform::canShowDialogs())
        std::fprintf(stderr, "zemo3: options: no terminal, the dialog cannot be shown\n");

    emulated_host::ModuleSession session;
    std::string error;
    if (const auto step = session.open(args.get("--module", emulated_host::defaultModulePath()), &error);
        step != emulated_host::RenderStep::Done)
        return run.fail(step == emulated_host::RenderStep::Load ? EXIT_USAGE : EXIT_REJECTED, error);

    emulated_host::OptionsReport report;
    A_Err err =
        session.host().runOptions(emulated_host::OutputSettings{}, stored.empty() ? nullptr : &stored, dialog, &report);
    session.close();
    if (err != A_Err_NONE)
        return run.fail(EXIT_REJECTED, "the module answered error " + std::to_string(err));

    std::printf("format:    %s (%.4s)\n", report.formatName.c_str(),
                session.host().moduleInfo().create_ext.ext.extension);
    std::printf("output:    %s\n", report.verbiage.name);
    std::printf("type:      %s\n", report.verbiage.type);
    std::printf("sub-type:  %s\n", report.verbiage.sub_type);
    std::printf("depth:     %u (%s)\n", unsigned(report.depth), depthText(report.depth));
    if (dialog)
        std::printf("dialog:    %s\n", report.interacted ? "OK" : "no change");
    for (const auto& e : session.errors())
        std::fprintf(stderr, "zemo3: options: host: %s\n", e.c_str());
    return session.errors().empty() ? EXIT_OK : EXIT_REJECTED;
}

}  // namespace

ZEMO3_COMMAND("options", "show the format's options as the host does (with --dialog, the dialog)", cmdOptions);
