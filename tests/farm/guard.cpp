// Runs a farm test so that nothing it starts outlives it: its daemons and
// renders, daemonized or not, go down when it ends, and when this program is
// killed (as ctest kills a test past its time). The test's files go in a
// folder of its own (TMPDIR), removed at the end.
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {

void removeFolder(void* folder) { platform::removeTree(*static_cast<std::string*>(folder)); }

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: farm_guard PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    std::string folder = platform::temporaryFolder() + "/zemo3-farm-" + std::to_string(platform::processId());
    if (!platform::makeDirectories(folder)) {
        std::fprintf(stderr, "farm_guard: cannot make %s\n", folder.c_str());
        return 1;
    }
    platform::setEnvironment("TMPDIR", folder);
    std::string error;
    // Time for the test's own exit steps (scancel, the daemons' stopping).
    const int code = platform::runContained({argv + 1, argv + argc}, 20, removeFolder, &folder, &error);
    if (code < 0) {
        std::fprintf(stderr, "farm_guard: %s\n", error.c_str());
        return 1;
    }
    return code;
}
