// The checks of `zemo3 verify`: reads a Zemo 3 movie back packet by packet,
// decodes every frame and checks the container's structure, and against a
// reference measures how close the pictures came to their source. The
// command prints the report; the fuzzers run the same checks on damaged files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "media/movie.h"
#include "media/reference.h"
#include "verify/quality.h"

namespace zemo3 {

struct FrameRecord {
    int64_t pts = 0;
    int64_t duration = 0;
    size_t bytes = 0;
    uint32_t type = 0;
    bool decoded = false;
    bool compared = false;
    FrameQuality quality;
};

// Problems are reported in the order found; a long run of the same kind
// (every frame after a gap, say) is summarised rather than listed.
struct Problems {
    std::vector<std::string> list;
    uint64_t dropped = 0;
    void add(const std::string& p)
    {
        if (list.size() < 20)
            list.push_back(p);
        else
            ++dropped;
    }
    bool empty() const { return list.empty(); }
};

// What verifyMovie found.
struct VerifyReport {
    Problems problems;                       // empty: the movie passed
    std::vector<FrameRecord> frames;         // one per video packet, in file order
    QualityTotals totals;                    // frames compared with the reference
    uint32_t movieType = UINT32_MAX;         // format type of the first decoded frame
    uint64_t audioSamples = 0;               // sample frames of sound read
    int frameTimeNum = 0, frameTimeDen = 1;  // one frame's duration in seconds; 0 when unknown
};

// Reads every packet of an opened movie and checks it (see docs/verify.md).
// ref may hold no source; minPsnr <= 0 sets no PSNR floor. progress, when
// set, hears of every frame read (total 0: unknown) and, last, of the end.
using VerifyProgress = std::function<void(uint64_t done, uint64_t total, bool last)>;
VerifyReport verifyMovie(MovieReader& movie, Reference& ref, double minPsnr, const VerifyProgress& progress = {});

// "12.34", or "inf" for a lossless channel.
std::string dbText(double v);

}  // namespace zemo3
