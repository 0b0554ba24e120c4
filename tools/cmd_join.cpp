// zemo3 join: segments of one movie, rendered apart, joined into the whole
// without decoding a frame.
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"

namespace {

using namespace zemo3;

const char* kUsage =
    "usage: zemo3 join SEGMENT.mov... -o OUT.mov\n"
    "\n"
    "Joins Zemo 3 movies, in the order given, into one: frames and sound are copied\n"
    "as they are, never decoded, so segments of a render made on many machines\n"
    "(zemo3 render --start A --end B) join into the very movie one machine makes.\n"
    "The segments must agree in format type, picture size, frame rate and sound\n"
    "format; a segment that differs, is damaged or truncated is refused, naming the\n"
    "file and the difference, and nothing is written.\n"
    "\n" ZEMO3_PARTIAL_OUTPUT_USAGE
    "\n"
    "Exit codes: 0 done, 1 a segment refused, 2 bad arguments, unreadable segments\n"
    "or unwritable output.\n";

int cmdJoin(const std::vector<std::string>& in)
{
    CommandRun run("join", kUsage);
    if (!run.parse(in, {"--output"}))
        return run.exitCode();
    const Args& args = run.args();
    if (args.positional.empty())
        return run.fail(EXIT_USAGE, "give the segments to join (see zemo3 join --help)");
    if (!args.has("--output"))
        return run.fail(EXIT_USAGE, "-o OUT.mov is required");
    std::vector<MoviePart> parts;
    for (const std::string& path : args.positional)
        parts.push_back({path});
    return writeJoined(run, parts, args.get("--output"));
}

}  // namespace

ZEMO3_COMMAND("join", "join Zemo 3 movies rendered in segments, losslessly", cmdJoin);
