// What the zemo3 commands share: option parsing, the values they take, and
// the steps most of them begin with (CommandRun).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "codec/zemo3.h"
#include "commands.h"
#include "media/join.h"
#include "media/movie.h"
#include "media/partial_output.h"
#include "media/reference.h"

namespace zemo3 {

struct Args {
    std::map<std::string, std::string> options;  // "--name" -> value
    std::set<std::string> flags;                 // "--name" without value
    std::vector<std::string> positional;
    std::string error;  // set when the arguments could not be parsed
    bool help = false;

    bool has(const std::string& name) const { return options.count(name) || flags.count(name); }
    std::string get(const std::string& name, const std::string& fallback = {}) const
    {
        auto it = options.find(name);
        return it == options.end() ? fallback : it->second;
    }
};

// Options in `valued` take the next argument ("--width 64" or "--width=64");
// options in `flags` take none. "--help"/"-h" sets help.
Args parseArgs(const std::vector<std::string>& in, const std::set<std::string>& valued,
               const std::set<std::string>& flags = {});

// Whole non-negative number in range, or false.
bool parseUint(const std::string& text, uint64_t max, uint64_t* value);

// Format type from "0".."3" or "normal", "normal-alpha", "high", "high-alpha"; -1 when unknown.
int parseCompression(const std::string& text);

// A frame rate: "25", "29.97" (a fraction over 1000) or "30000/1001"; false
// when unparsable or outside (0, 1000).
bool parseRate(const std::string& text, int32_t* num, int32_t* den);
// What --fps takes, for the message when parseRate() refuses a rate.
extern const char* const kRateRule;

// The largest side of the pictures the commands make (codec/zemo3.h).
using nox::kMaxPictureSide;
// Why a movie of width x height pictures cannot be made: the limit passed
// and what imposes it ("" when none is): a side past kMaxPictureSide, or an
// area past FFmpeg's limit for one picture.
std::string pictureSizeLimit(uint64_t width, uint64_t height);
// A picture size "1920x1080" within pictureSizeLimit(); false with the
// message for `option` ("--size must look like 1920x1080", or the limit
// passed) in *why.
bool parseSizeText(const std::string& text, uint32_t* width, uint32_t* height, std::string* why = nullptr,
                   const std::string& option = "--size");

// Options naming a reference, to merge into a command's own option sets:
// --reference SOURCE, or --demo with --size WxH, --fps RATE, --duration S
// and --no-sound, which default as in `zemo3 render`.
extern const std::set<std::string> kReferenceOptions;
extern const std::set<std::string> kReferenceFlags;
// Usage lines describing them.
extern const char* kReferenceUsage;

// The reference the arguments ask for. False with a message for bad options;
// *wanted false (and true) when they name none.
bool parseReference(const Args& args, ReferenceRequest* request, bool* wanted, std::string* error);

// Usage lines of the commands that write through a PartialOutput and print
// progress lines (render, join, cut).
#define ZEMO3_PARTIAL_OUTPUT_USAGE                                                  \
    "The movie is written beside OUT.mov under a partial name and takes its name\n" \
    "only when complete. With standard output not a terminal, progress is also\n"   \
    "printed there as \"Progress: NN%\" lines.\n"

// What a command needs of its movie beyond being one.
enum class MovieNeed {
    Any,
    Video,       // a video stream with a picture size
    Zemo3Video,  // and tagged as Zemo 3
};

// One run of a command: its name, which starts every message it prints
// ("zemo3: verify: ..."), its arguments, and the steps most commands begin
// with. A step returns false when the command ends there, having said why;
// the command then returns exitCode().
//
//   CommandRun run("inspect", kUsage);
//   if (!run.parse(in, valued, flags) || !run.oneMovie())
//       return run.exitCode();
//   ...                                   // the command's own options
//   MovieReader movie;
//   if (!run.movieExists() || !run.openMovie(&movie, MovieNeed::Video))
//       return run.exitCode();
class CommandRun {
public:
    CommandRun(std::string name, std::string usage) : name_(std::move(name)), usage_(std::move(usage)) {}

    // Parses the arguments ("-o" stands for "--output" where that is valued).
    // --help prints the usage and ends the command (EXIT_OK); an argument
    // that does not parse is an EXIT_USAGE.
    bool parse(const std::vector<std::string>& in, const std::set<std::string>& valued,
               const std::set<std::string>& flags = {});
    // Exactly one positional argument: the MOVIE.
    bool oneMovie();
    // The movie is there to read ("cannot open 'm.mov': <reason>", EXIT_USAGE).
    bool movieExists();
    // Opens the movie. A file that is no movie, or lacks what `need` asks
    // for, is an EXIT_REJECTED; `refused`, when set, hears the reader's
    // reason before it is printed.
    bool openMovie(MovieReader* movie, MovieNeed need, const std::function<void(const std::string&)>& refused = {});
    // The reference the options name, if any, at the movie's size (EXIT_USAGE
    // for options or a file that do not do).
    bool openReference(const MovieInfo& movie, Reference* ref);

    // Prints "zemo3: <name>: <message>" on stderr; returns code, which
    // exitCode() gives from then on. stop() is the same for a step.
    int fail(int code, const std::string& message);
    bool stop(int code, const std::string& message)
    {
        fail(code, message);
        return false;
    }

    const Args& args() const { return args_; }
    const std::string& name() const { return name_; }
    // The MOVIE, once oneMovie() passed.
    const std::string& movie() const { return args_.positional.front(); }
    int exitCode() const { return exit_; }

private:
    std::string name_, usage_;
    Args args_;
    int exit_ = EXIT_OK;
};

// join and cut: copies the parts into `output` (through its partial name),
// with progress, and prints what was written. Missing files and an output
// that cannot be written are EXIT_USAGE, refused parts EXIT_REJECTED.
int writeJoined(CommandRun& run, const std::vector<MoviePart>& parts, const std::string& output);

}  // namespace zemo3
