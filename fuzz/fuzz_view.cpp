// Fuzz target: the request handling of `zemo3 view`, whose port any program
// on the machine can reach. The bytes are one request as it comes off the
// socket, answered from memory. Whatever they hold (request line, headers,
// ranges, encodings, bodies), the server must answer without crashing or
// reading outside the movie, and serve nothing (200 or 206) to a request
// whose bytes do not carry the token.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "view/server.h"

namespace {

const char* const kToken = "0123456789abcdef0123456789abcdef";

zemo3::view::Server& server()
{
    static zemo3::view::Server* s = [] {
        const std::string folder =
            platform::temporaryFolder() + "/zemo3-fuzz-view-" + std::to_string(platform::processId());
        platform::makeDirectories(folder);
        std::string error;
        for (const char* name : zemo3::view::kPlayerFiles) {
            const std::string text = std::string("player file ") + name;
            platform::writeFileAtomic(folder + "/" + name, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                      &error);
        }
        std::string movie(5000, '\0');
        for (size_t i = 0; i < movie.size(); ++i)
            movie[i] = char(i * 7);
        platform::writeFileAtomic(folder + "/movie.mov", reinterpret_cast<const uint8_t*>(movie.data()), movie.size(),
                                  &error);
        auto* made = new zemo3::view::Server({folder + "/movie.mov", folder, kToken, 0});
        if (!made->load(&error))
            std::abort();
        // The mapping and the files are held in memory from here on.
        platform::removeTree(folder);
        return made;
    }();
    return *s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view request(reinterpret_cast<const char*>(data), size);
    const std::string response = server().answer(request);
    const bool served = response.rfind("HTTP/1.1 200", 0) == 0 || response.rfind("HTTP/1.1 206", 0) == 0;
    if (served && request.find(kToken) == std::string_view::npos)
        std::abort();
    return 0;
}
