// Replay driver for the decode fuzz target where libFuzzer is not available.
//
//   fuzz_decode_replay FILE...          runs the target on each file
//   fuzz_decode_replay --seconds N      generated corpus and mutations for N s
//   fuzz_decode_replay --runs N         the same for N inputs
//   fuzz_decode_replay --write-corpus D writes the seed inputs into folder D
//                                       (a starting corpus for libFuzzer)
//
// The corpus holds valid frames of every type (packed and raw) and
// version-3 frames; mutations flip, cut, splice and overwrite bytes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/packers.h"
#include "codec/zemo3.h"
#include "reader/unpack_content.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

Bytes input(uint32_t type, uint32_t w, uint32_t h, const Bytes& frame) {
    Bytes in = {uint8_t(type), uint8_t(w - 1), uint8_t(h - 1)};
    in.insert(in.end(), frame.begin(), frame.end());
    return in;
}

std::vector<Bytes> corpus() {
    using nox::testing::Content;
    std::vector<Bytes> out;
    const Content contents[] = {Content::Alphabet, Content::Smooth, Content::Repetitive, Content::Still};
    for (uint32_t type = 0; type < 4; ++type) {
        for (const Content c : contents) {
            for (uint32_t w : {5u, 40u, 77u}) {
                const uint32_t h = 80 - w / 2;
                const auto t = nox::testing::makeTexture(type, c, nox::padTo16(w), nox::padTo16(h), w + type);
                const auto packed = nox::testing::packTexture(type, t);
                const bool raw = packed.empty() || packed.size() > t.size();
                out.push_back(input(type, w, h, nox::testing::makeFrame(type, raw ? t : packed, raw ? 1 : 0)));
            }
        }
    }
    // Version 3: LZF payloads (a literal and a long back-reference), DXT5 bit set.
    out.push_back(input(5, 16, 16, {0x05, 0x00, 0x00, 0x40, 0x00, 'A', 0xE0, 0xF6, 0x00}));
    out.push_back(input(4, 16, 16, {0x06, 0x00, 0x00, 0x00, 0x02, 'A', 'B', 'C', 0x40, 0x02}));
    return out;
}

Bytes mutate(const Bytes& seed, std::mt19937& rng) {
    Bytes b = seed;
    const uint32_t edits = 1 + rng() % 4;
    for (uint32_t e = 0; e < edits && b.size() > 3; ++e) {
        const size_t at = 3 + rng() % (b.size() - 3);
        switch (rng() % 6) {
        case 0: b[at] ^= uint8_t(1u << (rng() % 8)); break;
        case 1: b[at] = uint8_t(rng()); break;
        case 2: b.resize(at); break;
        case 3: {  // overwrite with a run of one value (long runs, big distances)
            const uint8_t v = rng() % 2 ? 0xFF : uint8_t(rng());
            for (size_t k = at; k < std::min(b.size(), at + 1 + rng() % 16); ++k) b[k] = v;
            break;
        }
        case 4: {  // duplicate a slice
            const size_t len = std::min<size_t>(b.size() - at, 1 + rng() % 64);
            b.insert(b.begin() + at, b.begin() + at, b.begin() + at + len);
            break;
        }
        default: b[0] = uint8_t(rng()); break;  // another decoder type
        }
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 0;
    long runs = -1;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--write-corpus") && i + 1 < argc) {
            const std::string folder = argv[++i];
            const auto seeds = corpus();
            for (size_t k = 0; k < seeds.size(); ++k) {
                std::ofstream f(folder + "/seed" + std::to_string(k), std::ios::binary);
                f.write(reinterpret_cast<const char*>(seeds[k].data()), std::streamsize(seeds[k].size()));
                if (!f) {
                    std::fprintf(stderr, "cannot write into %s\n", folder.c_str());
                    return 1;
                }
            }
            return 0;
        }
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::atol(argv[++i]);
        } else {
            files.push_back(argv[i]);
        }
    }
    for (const auto& name : files) {
        std::ifstream f(name, std::ios::binary);
        if (!f) {
            std::fprintf(stderr, "cannot read %s\n", name.c_str());
            return 1;
        }
        const Bytes b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(b.data(), b.size());
    }
    if (!files.empty() && seconds == 0 && runs < 0) return 0;
    if (seconds == 0 && runs < 0) seconds = 2;

    const auto seeds = corpus();
    std::mt19937 rng(12345);
    const auto start = std::chrono::steady_clock::now();
    long done = 0;
    for (; runs < 0 || done < runs; ++done) {
        if (runs < 0 && (done & 63) == 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= seconds)
            break;
        Bytes b;
        if (done < long(seeds.size())) {
            b = seeds[size_t(done)];
        } else if (done % 16 == 0) {
            b.resize(3 + rng() % 512);  // plain random bytes
            for (auto& x : b) x = uint8_t(rng());
        } else {
            b = mutate(seeds[rng() % seeds.size()], rng);
        }
        LLVMFuzzerTestOneInput(b.data(), b.size());
    }
    std::printf("%ld inputs\n", done);
    return 0;
}
