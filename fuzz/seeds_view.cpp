// Seeds of the view target: requests the player makes, and refusals.
#include <string>

#include "seeds.h"

namespace nox::fuzz {

std::vector<Bytes> seeds()
{
    const std::string t = "/0123456789abcdef0123456789abcdef/";
    const std::string requests[] = {
        "GET " + t + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
        "GET " + t + "player.js HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
        "HEAD " + t + "movie HTTP/1.1\r\n\r\n",
        "GET " + t + "movie HTTP/1.1\r\nRange: bytes=100-199\r\n\r\n",
        "GET " + t + "movie HTTP/1.1\r\nRange: bytes=0-9,4990-\r\n\r\n",
        "GET " + t + "movie HTTP/1.1\r\nRange: bytes=-20\r\n\r\n",
        "GET " + t + "../movie HTTP/1.1\r\n\r\n",
        "GET " + t + "%2e%2e/etc/passwd HTTP/1.1\r\n\r\n",
        "GET /0123456789abcdef0123456789abcdeg/ HTTP/1.1\r\n\r\n",
        "POST " + t + "movie HTTP/1.1\r\nContent-Length: 4\r\n\r\nabcd",
        "GET " + t + "movie HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n0\r\n\r\n",
    };
    std::vector<Bytes> out;
    for (const std::string& r : requests)
        out.emplace_back(r.begin(), r.end());
    return out;
}

}  // namespace nox::fuzz
