#include "player/schedule.h"

#include <algorithm>

namespace zemo3 {

namespace {

// A frame this close before its time is shown now rather than a turn (a
// millisecond's sleep and more) late.
constexpr double kEarly = 0.002;

}  // namespace

PlaySchedule::Effect PlaySchedule::seek(int64_t index, bool pause)
{
    pending_.reset();
    paused_ = pause;
    steps_ = pause ? 1 : 0;
    resync_ = true;
    return {Effect::KEEP, std::max<int64_t>(0, index), false};
}

PlaySchedule::Effect PlaySchedule::command(PlayCommand command)
{
    switch (command) {
    case PlayCommand::PAUSE:
        paused_ = !paused_;
        steps_ = 0;
        return {paused_ ? Effect::HOLD : Effect::RUN};
    case PlayCommand::STEP:
        paused_ = true;
        ++steps_;
        return {Effect::HOLD};
    case PlayCommand::BACK:
        return seek(current_ - 1, true);
    case PlayCommand::FIRST:
        return seek(0, paused_);
    case PlayCommand::LOOP:
        loop_ = !loop_;
        break;
    }
    return {};
}

PlaySchedule::Effect PlaySchedule::atEnd()
{
    if (!loop_)
        return {Effect::KEEP, -1, true};
    return seek(0, false);
}

PlaySchedule::Decision PlaySchedule::decide(double clock, std::optional<double> following)
{
    Decision d;
    if (!pending_ || (paused_ && steps_ == 0))
        return d;
    d.frame = *pending_;
    if (paused_ || resync_) {
        // Shown at once; the clock goes on from it.
        steps_ -= paused_ ? 1 : 0;
        d.restartClock = true;
        d.paused = paused_;
        resync_ = false;
    } else if (following && *following <= clock) {
        // The frame after it is due already: this one came late.
        d.action = Decision::DROP;
        ++dropped_;
        current_ = d.frame.index;
        pending_.reset();
        return d;
    } else if (d.frame.seconds > clock + kEarly) {
        return d;
    }
    d.action = Decision::SHOW;
    current_ = d.frame.index;
    pending_.reset();
    ++shown_;
    return d;
}

}  // namespace zemo3
