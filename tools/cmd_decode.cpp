// zemo3 decode: turns a Zemo 3 movie into something any player opens: a
// numbered picture sequence, or a lossless video (FFV1 where the container
// takes it) carrying the movie's sound unchanged (media/lossless.h).
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "media/lossless.h"
#include "progress.h"

namespace {

using namespace zemo3;

const char* kUsage =
    "usage: zemo3 decode MOVIE -o OUT [--no-sound]\n"
    "\n"
    "Decodes every frame of a Zemo 3 movie and writes the pictures as\n"
    "  - a picture sequence when OUT holds a %d pattern (frame_%04d.png; numbered\n"
    "    from 0 like the movie's frames), the format following the extension, or\n"
    "  - a lossless video in the container OUT names (.mkv, .avi, .nut, .mov ...):\n"
    "    FFV1 where the container takes it, otherwise PNG or Ut Video, with the\n"
    "    movie's sound copied unchanged.\n"
    "Pictures keep their alpha when the movie stores it.\n"
    "  --no-sound   leave the sound out of a video\n"
    "\n"
    "Exit codes: 0 done, 1 a frame does not decode or the movie is no Zemo 3 movie,\n"
    "2 bad arguments, unreadable input or unwritable output.\n";

int cmdDecode(const std::vector<std::string>& in)
{
    CommandRun run("decode", kUsage);
    if (!run.parse(in, {"--output"}, {"--no-sound"}) || !run.oneMovie())
        return run.exitCode();
    if (!run.args().has("--output"))
        return run.fail(EXIT_USAGE, "-o OUT is required");
    const std::string out = run.args().get("--output");
    MovieReader movie;
    if (!run.movieExists())
        return run.exitCode();
    if (const std::string problem = losslessOutputProblem(run.movie(), out); !problem.empty())
        return run.fail(EXIT_USAGE, problem);
    if (!run.openMovie(&movie, MovieNeed::Zemo3Video))
        return run.exitCode();
    ProgressLine line("decode");
    LosslessCopy copy;
    LosslessFault fault = LosslessFault::None;
    std::string error;
    if (!copyLossless(
            movie, run.movie(), out, !run.args().has("--no-sound"),
            [&](uint64_t done, uint64_t expected, bool last) { line.draw(done, expected, last); }, &copy, &fault,
            &error))
        return run.fail(fault == LosslessFault::Movie ? EXIT_REJECTED : EXIT_USAGE, error);
    const MovieInfo& info = movie.info();
    std::printf("%s: %llu frames of %ux%u (%s in %s)%s\n", out.c_str(), (unsigned long long)copy.frames, info.width,
                info.height, copy.codec.c_str(), copy.container.c_str(),
                copy.soundCopied ? (", sound " + info.audioCodec + " copied").c_str() : "");
    return EXIT_OK;
}

}  // namespace

ZEMO3_COMMAND("decode", "decode a Zemo 3 movie to a lossless video or a picture sequence", cmdDecode);
