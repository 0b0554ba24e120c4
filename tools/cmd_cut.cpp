// zemo3 cut: a range of a movie's frames and their sound, copied without
// decoding a frame.
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"

namespace {

using namespace zemo3;

const char* kUsage =
    "usage: zemo3 cut IN.mov -o OUT.mov [--start A] [--end B]\n"
    "\n"
    "Copies frames A to B of a Zemo 3 movie (inclusive, counted from 0; by default\n"
    "the first and the last) and the sound that goes with them into a new movie,\n"
    "never decoding a frame: the same frames and sound that zemo3 render --start A\n"
    "--end B gives. An end past the last frame stands for the last.\n"
    "\n" ZEMO3_PARTIAL_OUTPUT_USAGE
    "\n"
    "Exit codes: 0 done, 1 the movie refused (no Zemo 3 movie, damaged, or no frame\n"
    "in the range), 2 bad arguments, unreadable input or unwritable output.\n";

int cmdCut(const std::vector<std::string>& in)
{
    CommandRun run("cut", kUsage);
    if (!run.parse(in, {"--output", "--start", "--end"}) || !run.oneMovie())
        return run.exitCode();
    const Args& args = run.args();
    if (!args.has("--output"))
        return run.fail(EXIT_USAGE, "-o OUT.mov is required");
    MoviePart part{run.movie()};
    for (const auto& [name, value] : {std::pair{"--start", &part.first}, std::pair{"--end", &part.last}})
        if (args.has(name) && !parseUint(args.get(name), UINT64_MAX - 1, value))
            return run.fail(EXIT_USAGE, std::string(name) + " must be a frame number (frames count from 0)");
    if (part.last < part.first)
        return run.fail(EXIT_USAGE,
                        "--end " + std::to_string(part.last) + " comes before --start " + std::to_string(part.first));
    return writeJoined(run, {part}, args.get("--output"));
}

}  // namespace

ZEMO3_COMMAND("cut", "copy a range of a Zemo 3 movie's frames and sound, losslessly", cmdCut);
