// Replay driver for a fuzz target where libFuzzer is not available (any
// compiler); the same target source links into both.
//
//   fuzz_<target>_replay PATH...         runs the target on each file, and on
//                                        each file of each folder given
//   fuzz_<target>_replay --seconds N     the target's seeds, the given files
//                                        and mutations of them for N s
//   fuzz_<target>_replay --runs N        the same for N inputs
//   fuzz_<target>_replay --write-corpus D writes the target's seeds into D
//                                        (a starting corpus for libFuzzer)
//
// Mutations flip, cut, splice and overwrite bytes. A failing input aborts
// (or trips a sanitizer); the file being replayed is named on stderr first.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using nox::fuzz::Bytes;

Bytes mutate(Bytes b, std::mt19937& rng)
{
    for (uint32_t e = 1 + rng() % 4; e > 0 && b.size() > 3; --e) {
        const size_t at = 3 + rng() % (b.size() - 3);
        switch (rng() % 6) {
        case 0:
            b[at] ^= uint8_t(1u << (rng() % 8));
            break;
        case 1:
            b[at] = uint8_t(rng());
            break;
        case 2:
            b.resize(at);
            break;
        case 3: {  // overwrite with a run of one value (long runs, big distances)
            const uint8_t v = rng() % 2 ? 0xFF : uint8_t(rng());
            std::fill(b.begin() + std::ptrdiff_t(at),
                      b.begin() + std::ptrdiff_t(std::min(b.size(), at + 1 + rng() % 16)), v);
            break;
        }
        case 4: {  // duplicate a slice
            const auto from = b.begin() + std::ptrdiff_t(at);
            const Bytes slice(from, from + std::ptrdiff_t(std::min<size_t>(b.size() - at, 1 + rng() % 64)));
            b.insert(b.begin() + std::ptrdiff_t(at), slice.begin(), slice.end());
            break;
        }
        default:
            b[0] = uint8_t(rng());
            break;  // another picture or type
        }
    }
    return b;
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 0;
    long runs = -1;
    std::vector<std::string> files;
    std::vector<Bytes> seeds = nox::fuzz::seeds();
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--write-corpus") && i + 1 < argc) {
            for (size_t k = 0; k < seeds.size(); ++k) {
                std::string error;
                if (!platform::writeFileAtomic(std::string(argv[i + 1]) + "/seed" + std::to_string(k), seeds[k].data(),
                                               seeds[k].size(), &error)) {
                    std::fprintf(stderr, "cannot write into %s\n", argv[i + 1]);
                    return 1;
                }
            }
            return 0;
        }
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::atol(argv[++i]);
        } else if (platform::isDirectory(argv[i])) {
            const std::vector<std::string> inside = platform::filesIn(argv[i]);
            files.insert(files.end(), inside.begin(), inside.end());
        } else {
            files.push_back(argv[i]);
        }
    }
    for (const auto& name : files) {
        Bytes b;
        std::string error;
        if (!platform::readFile(name, &b, &error)) {
            std::fprintf(stderr, "cannot read %s: %s\n", name.c_str(), error.c_str());
            return 1;
        }
        std::fprintf(stderr, "%s\n", name.c_str());
        LLVMFuzzerTestOneInput(b.data(), b.size());
        seeds.push_back(b);
    }
    if (seconds == 0 && runs < 0) {
        if (!files.empty())
            return 0;
        seconds = 2;
    }
    if (seeds.empty()) {
        std::fprintf(stderr, "no seeds to mutate\n");
        return 1;
    }

    std::mt19937 rng(12345);
    const auto start = std::chrono::steady_clock::now();
    long done = 0;
    for (; runs < 0 || done < runs; ++done) {
        if (runs < 0 && (done & 15) == 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= seconds)
            break;
        Bytes b;
        if (done < long(seeds.size())) {
            b = seeds[size_t(done)];
        } else if (done % 16 == 0) {
            b.resize(3 + rng() % 512);  // plain random bytes
            for (auto& x : b)
                x = uint8_t(rng());
        } else {
            b = mutate(seeds[rng() % seeds.size()], rng);
        }
        LLVMFuzzerTestOneInput(b.data(), b.size());
    }
    std::printf("%ld inputs\n", done);
    return 0;
}
