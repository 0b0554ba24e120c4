#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}
#include <map>
#include <string>
#include <vector>

#include "commands.h"

namespace zemo3 {

namespace {

struct Entry {
    const char* summary;
    CommandFn fn;
};

std::map<std::string, Entry>& commands()
{
    static std::map<std::string, Entry> table;
    return table;
}

int usage(FILE* out)
{
    std::fprintf(out, "usage: zemo3 <command> [options]\n\ncommands:\n");
    for (const auto& [name, entry] : commands())
        std::fprintf(out, "  %-10s %s\n", name.c_str(), entry.summary);
    std::fprintf(out, "\n'zemo3 <command> --help' describes a command.\n");
    return out == stdout ? EXIT_OK : EXIT_USAGE;
}

}  // namespace

CommandRegistrar::CommandRegistrar(const char* name, const char* summary, CommandFn fn)
{
    commands()[name] = {summary, fn};
}

}  // namespace zemo3

int main(int argc, char** argv)
{
    using namespace zemo3;
    // FFmpeg's notes (a muxer's remarks on time scales, a probe that finds no
    // decoder for the ZMQ3 tag) are not the user's business; errors still show.
    av_log_set_level(AV_LOG_ERROR);
    if (argc < 2)
        return usage(stderr);
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help")
        return usage(stdout);
    if (name == "--version")
        name = "version";
    auto it = commands().find(name);
    if (it == commands().end())
        return fail(EXIT_USAGE, "unknown command '" + name + "' (see zemo3 --help)");
    std::vector<std::string> args(argv + 2, argv + argc);
    return it->second.fn(args);
}
