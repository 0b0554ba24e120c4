// A one-line progress bar on stderr, drawn only when stderr is a terminal and
// at most ten times a second.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace zemo3 {

class ProgressLine {
public:
    explicit ProgressLine(const char* what) : what_(what) {}

    // done of total frames (total 0: unknown); `last` ends the line.
    void draw(uint64_t done, uint64_t total, bool last = false)
    {
        if (!terminal_ || (!drawn_ && !last && platform::monotonicMilliseconds() - start_ < 500))
            return;  // short jobs draw nothing
        const double now = platform::monotonicMilliseconds();
        if (!last && now - lastDraw_ < 100)
            return;
        if (last && !drawn_)
            return;
        drawn_ = true;
        lastDraw_ = now;
        const double seconds = (now - start_) / 1000.0;
        const double fps = seconds > 0 ? double(done) / seconds : 0;
        if (total && done <= total) {
            const int width = 30;
            const int filled = std::min(width, int(double(done) / double(total) * width));
            std::string bar(size_t(filled), '#');
            bar.append(size_t(width - filled), '-');
            const double left = fps > 0 ? double(total - done) / fps : 0;
            std::fprintf(stderr, "\r%s [%s] %llu/%llu frames  %.1f fps  %.0f s left ", what_, bar.c_str(),
                         (unsigned long long)done, (unsigned long long)total, fps, left);
        } else {
            std::fprintf(stderr, "\r%s %llu frames  %.1f fps ", what_, (unsigned long long)done, fps);
        }
        if (last)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }

    // Seconds since the line was made.
    double elapsedSeconds() const { return (platform::monotonicMilliseconds() - start_) / 1000.0; }

private:
    const char* what_;
    bool terminal_ = platform::isTerminal(stderr);
    bool drawn_ = false;
    double start_ = platform::monotonicMilliseconds();
    double lastDraw_ = 0;
};

}  // namespace zemo3
