// zemo3 version (also zemo3 --version): the product's version and the FFmpeg
// libraries the command runs with.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "core/version.h"
#include "media/versions.h"

namespace {

const char* kUsage =
    "usage: zemo3 version   (or zemo3 --version)\n\n"
    "Prints the version of Zemo 3 Export, then each FFmpeg library's version as\n"
    "loaded, with the version it was built against where the two differ.\n";

int cmdVersion(const std::vector<std::string>& args)
{
    zemo3::CommandRun run("version", kUsage);
    if (!run.parse(args, {}))
        return run.exitCode();
    if (!run.args().positional.empty())
        return run.fail(zemo3::EXIT_USAGE, "unexpected argument '" + run.args().positional[0] + "'");
    std::printf("zemo3 %s\n", ZEMO3_VERSION);
    for (const zemo3::LibraryVersion& lib : zemo3::ffmpegVersions()) {
        std::string line = lib.name + " " + zemo3::versionText(lib.running);
        if (lib.built != lib.running)
            line += " (built against " + zemo3::versionText(lib.built) + ")";
        std::printf("%s\n", line.c_str());
    }
    return zemo3::EXIT_OK;
}

}  // namespace

ZEMO3_COMMAND("version", "print the version and the FFmpeg libraries' versions", cmdVersion);
