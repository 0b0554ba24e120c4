// When zemo3 play shows which frame: the decisions of the playing loop, apart
// from the window, the GL, the sound device and the reading thread.
//
// The loop hands the schedule the frames the reader restored, in order, and
// the user's commands; once a turn it asks what to do with the frame that
// waits, given the clock (the sound's position, or the wall clock without
// sound) and the time of the frame after it when one is ready. A frame whose
// follower is due already came too late: it is dropped and counted, never
// shown out of order. Pausing holds the frame and asks the clock to hold; a
// step shows the next frame while paused; a seek asks the reader to go on
// from a frame and restarts the clock at it; at the end the schedule starts
// again at frame 0 or stops.
#pragma once

#include <cstdint>
#include <optional>

namespace zemo3 {

// A frame as the schedule knows it.
struct ScheduledFrame {
    int64_t index = 0;
    double seconds = 0;  // its presentation time
};

// The user's commands (keys space, right, left, home and l).
enum class PlayCommand {
    PAUSE,  // pauses, or plays on from where the clock stands
    STEP,   // pauses and shows the next frame
    BACK,   // pauses and shows the frame before the one shown
    FIRST,  // shows frame 0, paused or playing as before
    LOOP,   // starting again at the end, or not
};

class PlaySchedule {
public:
    // `loop`: start again at the end; `limit`: stop once that many frames
    // were shown (0: no limit).
    PlaySchedule(bool loop, uint64_t limit) : loop_(loop), limit_(limit) {}

    // What the player does after a command or at the end of the frames.
    struct Effect {
        enum Clock { KEEP, HOLD, RUN } clock = KEEP;  // HOLD: pause it; RUN: let it run on
        int64_t seek = -1;  // when >= 0, the reader goes on from this frame, forgetting what it read ahead
        bool stop = false;  // playing is over
    };
    Effect command(PlayCommand command);
    // The reader has no frame left: a loop seeks to frame 0, else playing stops.
    Effect atEnd();

    // True while no frame waits: the loop offers the reader's next one.
    bool wantsFrame() const { return !pending_; }
    void offer(const ScheduledFrame& frame) { pending_ = frame; }
    // A frame that did not decode: passed over and counted.
    void damaged() { ++damaged_; }

    // What to do with the waiting frame this turn.
    struct Decision {
        enum Action { WAIT, SHOW, DROP } action = WAIT;
        ScheduledFrame frame;  // SHOW and DROP: the frame
        // SHOW: the clock starts again at the frame's time, held when `paused`.
        bool restartClock = false;
        bool paused = false;
    };
    // `clock`: where the clock stands, in seconds; `following`: the time of
    // the frame after the waiting one, when the reader has it ready. A SHOW or
    // DROP is done when this returns.
    Decision decide(double clock, std::optional<double> following);

    // Once a frame was shown; the picture may be drawn.
    bool started() const { return shown_ > 0; }
    // The limit of frames shown was reached.
    bool done() const { return limit_ && shown_ >= limit_; }
    bool paused() const { return paused_; }
    int64_t current() const { return current_; }  // the frame shown or dropped last, -1 before any
    uint64_t shown() const { return shown_; }
    uint64_t dropped() const { return dropped_; }
    uint64_t damagedFrames() const { return damaged_; }

private:
    // Frame `index` next (from 0), shown at once and paused or not.
    Effect seek(int64_t index, bool pause);

    bool loop_;
    uint64_t limit_;
    bool paused_ = false;
    int steps_ = 0;       // frames to show one by one while paused
    bool resync_ = true;  // the clock follows the next frame shown (the start, a seek)
    std::optional<ScheduledFrame> pending_;
    int64_t current_ = -1;
    uint64_t shown_ = 0, dropped_ = 0, damaged_ = 0;
};

}  // namespace zemo3
