// A one-line progress bar on stderr, drawn only when stderr is a terminal and
// at most ten times a second. Commands that run on render farms (render,
// join, cut) also print "Progress: NN%" lines on stdout when it is not a
// terminal, one per whole percent at most: farm managers read a job's
// progress from its output with such a pattern.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace zemo3 {

class ProgressLine {
public:
    enum Percent { NO_PERCENT, PERCENT_LINES };
    explicit ProgressLine(const char* what, Percent percent = NO_PERCENT)
        : what_(what), percentLines_(percent == PERCENT_LINES && !platform::isTerminal(stdout))
    {
    }

    // done of total frames (total 0: unknown); `last` ends the line.
    void draw(uint64_t done, uint64_t total, bool last = false)
    {
        // 100 % only once the job has succeeded (finish()): a total that is
        // an estimate may be passed, and a failed job never gets there.
        if (percentLines_ && total)
            percent(int(std::min<uint64_t>(done * 100 / total, 99)));
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

    // The job is done: the last "Progress: 100%".
    void finish()
    {
        if (percentLines_)
            percent(100);
    }

    // Seconds since the line was made.
    double elapsedSeconds() const { return (platform::monotonicMilliseconds() - start_) / 1000.0; }

private:
    void percent(int value)
    {
        if (value <= printed_)
            return;
        printed_ = value;
        std::printf("Progress: %d%%\n", value);
        std::fflush(stdout);
    }

    const char* what_;
    bool percentLines_;
    int printed_ = -1;
    bool terminal_ = platform::isTerminal(stderr);
    bool drawn_ = false;
    double start_ = platform::monotonicMilliseconds();
    double lastDraw_ = 0;
};

}  // namespace zemo3
