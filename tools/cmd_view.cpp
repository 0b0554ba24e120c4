// zemo3 view: a movie in the browser, served from this machine only.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "platform/platform.h"
#include "view/server.h"

namespace {

using namespace zemo3;

const char* kUsage =
    "usage: zemo3 view MOVIE [--port N] [--no-open]\n"
    "\n"
    "Serves the browser player and MOVIE on 127.0.0.1, under a random secret path,\n"
    "prints 'Open: http://127.0.0.1:PORT/TOKEN/' and opens it in the browser (not\n"
    "with --no-open). Nothing else is served, and only to this machine. The player\n"
    "draws the frames' textures with WebGL2, or rebuilds pictures on the CPU where\n"
    "the browser has no compressed textures. --port: the port (default: any free\n"
    "one). Ctrl-C stops it.\n"
    "\n"
    "Exit codes: 0 stopped, 2 bad arguments, an unreadable movie, no player or\n"
    "no port.\n";

int cmdView(const std::vector<std::string>& in)
{
    CommandRun run("view", kUsage);
    if (!run.parse(in, {"--port"}, {"--no-open"}) || !run.oneMovie() || !run.movieExists())
        return run.exitCode();
    uint64_t port = 0;
    if (run.args().has("--port") && !parseUint(run.args().get("--port"), 65535, &port))
        return run.fail(EXIT_USAGE, "--port must be a number from 0 to 65535");
    std::string error;
    view::Settings settings;
    settings.movie = run.movie();
    settings.port = int(port);
    settings.playerFolder = view::findPlayerFolder(platform::executablePath(), &error);
    if (settings.playerFolder.empty())
        return run.fail(EXIT_USAGE, error);
    view::Server server(settings);
    if (!server.start(&error))
        return run.fail(EXIT_USAGE, error);
    std::printf("Open: %s\n", server.url().c_str());
    std::fflush(stdout);
    if (!run.args().has("--no-open") && !platform::openInBrowser(server.url()))
        std::fprintf(stderr, "zemo3: view: could not start a browser; open the address above\n");
    server.run();
    return EXIT_OK;
}

}  // namespace

ZEMO3_COMMAND("view", "show a movie in the browser: a player served on 127.0.0.1", cmdView);
