// zemo3 core: brings the core library up the way the plug-in does, runs a
// batch of tasks on its worker pool and tears it down, printing the log.
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "core/context.h"
#include "core/logger.h"
#include "core/threads.h"
#include "platform/platform.h"

namespace {

const char* kUsage =
    "usage: zemo3 core [--tasks N]\n\n"
    "Brings the core library up with feature mask 132, runs N tasks (default 5000)\n"
    "on its worker pool, tears it down, and prints the log lines.\n";

int cmdCore(const std::vector<std::string>& args)
{
    zemo3::CommandRun run("core", kUsage);
    if (!run.parse(args, {"--tasks"}))
        return run.exitCode();
    if (!run.args().positional.empty())
        return run.fail(zemo3::EXIT_USAGE, "unexpected argument '" + run.args().positional[0] + "'");
    uint64_t tasks = 5000;
    if (run.args().has("--tasks") && (!zemo3::parseUint(run.args().get("--tasks"), 1000000, &tasks) || tasks == 0))
        return run.fail(zemo3::EXIT_USAGE, "--tasks must be a number from 1 to 1000000");
    nox::setLogSink([](const char* line) { std::printf("%s\n", line); });
    nox::Noxcore* context = nox::createContext(132);
    nox::bringUp(context);

    std::atomic<uint64_t> sum{0};
    double start = platform::monotonicMilliseconds();
    {
        std::vector<std::unique_ptr<nox::TaskHandle>> handles;
        handles.reserve(tasks);
        for (uint64_t i = 0; i < tasks; ++i) {
            handles.push_back(std::make_unique<nox::TaskHandle>());
            handles.back()->start(nox::kWorkerQueue, nox::kPlainUrgency,
                                  [&sum, i] { sum.fetch_add(i, std::memory_order_relaxed); });
        }
        // Collect like the exporter does: run what is still queued here.
        for (auto& h : handles)
            h->wait(true);
    }
    double ms = platform::monotonicMilliseconds() - start;
    const uint64_t expected = tasks * (tasks - 1) / 2;
    std::printf("ran %llu tasks on %u workers in %.1f ms; checksum %s\n", (unsigned long long)tasks,
                unsigned(nox::TaskManager::existing()->workerCount()), ms, sum.load() == expected ? "ok" : "WRONG");
    nox::shutdown(context);
    nox::destroyManagers(context);
    nox::setLogSink(nullptr);
    return sum.load() == expected ? zemo3::EXIT_OK : zemo3::EXIT_REJECTED;
}

}  // namespace

ZEMO3_COMMAND("core", "bring the core library up and run tasks on its worker pool", cmdCore);
