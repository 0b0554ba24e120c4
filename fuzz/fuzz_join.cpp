// Fuzz target: the join's reading of segments, which come from other machines
// and may be anything.
//
// The bytes are written to a file in a temporary folder and joined, whole
// and as a cut of frames 1 to 3 after it, into a movie beside it. Whatever
// the container claims (stream kinds, tags, packet sizes and times, frame
// counts, sound format), the join must refuse or copy without crashing,
// leaking or reading outside a packet, and a refused join leaves no output.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "media/join.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string folder = [] {
        const std::string f = platform::temporaryFolder() + "/zemo3-fuzz-join-" + std::to_string(platform::processId());
        platform::makeDirectories(f);
        std::atexit([] { platform::removeTree(platform::temporaryFolder() + "/zemo3-fuzz-join-" +
                                              std::to_string(platform::processId())); });
        return f;
    }();
    const std::string input = folder + "/in.mov", output = folder + "/out.mov";
    std::string error;
    if (!platform::writeFileAtomic(input, data, size, &error))
        std::abort();
    zemo3::JoinResult result;
    if (!zemo3::joinMovies({{input}, {input, 1, 3}}, output, &result, &error) && platform::fileSize(output))
        std::abort();  // a refused join wrote something
    platform::removeFile(output);
    return 0;
}
