// zemo3 play's schedule without a window: a movie of frames at 30 a second,
// a reader that restores up to four frames ahead (and may stall), a clock
// that holds and restarts as the schedule asks, and turns every 1/120 s as
// the window's loop takes them. Each case plays a script of commands and
// compares what happened, turn by turn, with what should.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "player/schedule.h"

namespace {

using zemo3::PlayCommand;
using zemo3::PlaySchedule;
using Decision = PlaySchedule::Decision;
using Effect = PlaySchedule::Effect;

constexpr double kFrameSeconds = 1.0 / 30, kTurnSeconds = 1.0 / 120;

struct Case {
    const char* what;
    int64_t frames;
    bool loop;
    uint64_t limit;
    int turns;                                          // played at most
    std::vector<std::pair<int, PlayCommand>> commands;  // by turn
    std::pair<int, int> stall;                          // turns in which the reader restores nothing
    std::set<int64_t> damaged;
    // "N@T" frame N shown in turn T, "xN" frame N dropped, "hold" and "run"
    // the clock asked to, ">N" the reader sent to frame N, "end" stopped at
    // the end, "done" the limit of frames reached.
    const char* log;
    double clock;  // where the clock stands after the last turn; < 0: anywhere
};

// Plays a case and writes its log; checks on the way that frames come in
// order between seeks.
struct Player {
    explicit Player(const Case& c) : c(c), schedule(c.loop, c.limit) {}

    double clockAt(int turn) const
    {
        return clock.heldAt >= 0 ? clock.heldAt : clock.start + (turn - clock.startTurn) * kTurnSeconds;
    }
    void restartClock(double seconds, bool paused, int turn) { clock = {seconds, paused ? seconds : -1, turn}; }
    void say(const std::string& what) { log += (log.empty() ? "" : " ") + what; }
    void apply(const Effect& e, int turn)
    {
        if (e.clock != Effect::KEEP) {
            const bool hold = e.clock == Effect::HOLD;
            say(hold ? "hold" : "run");
            if (hold != (clock.heldAt >= 0))
                hold ? void(clock.heldAt = clockAt(turn)) : restartClock(clockAt(turn), false, turn);
        }
        if (e.seek >= 0) {
            say(">" + std::to_string(e.seek));
            queue.clear();
            next = e.seek;
            last = -1;
        }
    }
    // Frames to the schedule while it wants one; true when there are no more.
    bool give()
    {
        for (; schedule.wantsFrame(); queue.pop_front()) {
            if (queue.empty())
                return next >= c.frames;
            const int64_t i = queue.front();
            c.damaged.count(i) ? schedule.damaged() : schedule.offer({i, double(i) * kFrameSeconds});
        }
        return false;
    }
    // One time round the loop; false once playing is over.
    bool turn(int turn)
    {
        for (const auto& [at, command] : c.commands)
            if (at == turn && !dropping)
                apply(schedule.command(command), turn);
        if (turn < c.stall.first || turn >= c.stall.second)
            while (queue.size() < 4 && next < c.frames)
                queue.push_back(next++);
        const bool end = give();
        const Decision d = schedule.decide(
            clockAt(turn), queue.empty() ? std::nullopt : std::optional(double(queue.front()) * kFrameSeconds));
        if (d.action != Decision::WAIT) {
            EXPECT_GT(d.frame.index, last) << "out of order in turn " << turn;
            last = d.frame.index;
        }
        dropping = d.action == Decision::DROP;
        if (dropping)
            say("x" + std::to_string(d.frame.index));
        if (d.action == Decision::SHOW) {
            say(std::to_string(d.frame.index) + "@" + std::to_string(turn));
            if (d.restartClock)
                restartClock(d.frame.seconds, d.paused, turn);
            if (schedule.done()) {
                say("done");
                return false;
            }
        }
        if (!dropping && end && schedule.wantsFrame()) {
            const Effect e = schedule.atEnd();
            if (e.stop) {
                say("end");
                return false;
            }
            apply(e, turn);
        }
        return true;
    }

    const Case& c;
    PlaySchedule schedule;
    std::string log;
    int64_t next = 0;           // the frame the reader restores next
    std::deque<int64_t> queue;  // the frames it has restored, up to four
    struct {
        double start, heldAt;  // the clock runs from `start` at turn `startTurn`, or is held at `heldAt` (>= 0)
        int startTurn;
    } clock{0, -1, 0};
    int64_t last = -1;      // the frame shown or dropped last since the last seek
    bool dropping = false;  // a frame was dropped: the loop goes round again at once
};

TEST(PlaySchedule, ShowsDropsPausesStepsSeeksAndLoopsAsTheScriptSays)
{
    const auto P = PlayCommand::PAUSE, S = PlayCommand::STEP, B = PlayCommand::BACK, F = PlayCommand::FIRST,
               L = PlayCommand::LOOP;
    // clang-format off
    const Case cases[] = {
        {"every frame in its turn, then the end", 6, false, 0, 100, {}, {}, {},
         "0@0 1@4 2@8 3@12 4@16 5@20 end", -1},
        {"late frames dropped and counted, never shown", 20, false, 0, 200, {}, {8, 60}, {},
         "0@0 1@4 2@8 3@12 4@16 5@20 6@24 x7 x8 x9 x10 x11 x12 x13 x14 15@60 16@64 17@68 18@72 19@76 end", -1},
        {"damaged frames passed over and counted", 6, false, 0, 100, {}, {}, {2, 3}, "0@0 1@4 4@16 5@20 end", -1},
        {"a pause holds the frame and the clock", 10, false, 0, 40, {{6, P}}, {}, {}, "0@0 1@4 hold", 0.05},
        {"playing on after a pause drops nothing", 10, false, 0, 100, {{6, P}, {30, P}}, {}, {},
         "0@0 1@4 hold run 2@32 3@36 4@40 5@44 6@48 7@52 8@56 9@60 end", -1},
        {"a step shows the next frame and holds there", 10, false, 0, 30, {{6, P}, {10, S}, {20, S}}, {}, {},
         "0@0 1@4 hold hold 2@10 hold 3@20", 0.1},
        {"a step while playing pauses after the next frame", 10, false, 0, 30, {{5, S}}, {}, {},
         "0@0 1@4 hold 2@5", 2 * kFrameSeconds},
        {"back and first land on their frame, paused; back from 0 stays at 0", 10, false, 0, 40,
         {{10, B}, {20, F}, {24, B}, {30, P}}, {}, {}, "0@0 1@4 2@8 >1 1@10 >0 0@20 >0 0@24 run 1@34 2@38", -1},
        {"back before any frame clamps to frame 0", 10, false, 0, 6, {{0, B}}, {}, {}, ">0 0@0", 0},
        {"first while playing plays on from frame 0", 10, false, 0, 22, {{13, F}}, {}, {},
         "0@0 1@4 2@8 3@12 >0 0@13 1@17 2@21", -1},
        {"a loop starts again at frame 0", 3, true, 0, 30, {}, {}, {},
         "0@0 1@4 2@8 >0 0@10 1@14 2@18 >0 0@20 1@24 2@28 >0", -1},
        {"looping switched on and off again", 3, false, 0, 30, {{1, L}, {12, L}}, {}, {},
         "0@0 1@4 2@8 >0 0@10 1@14 2@18 end", -1},
        {"the limit of frames shown", 10, false, 3, 100, {}, {}, {}, "0@0 1@4 2@8 done", -1},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Player player(c);
        for (int turn = 0; turn < c.turns && player.turn(turn);)
            turn += player.dropping ? 0 : 1;
        EXPECT_EQ(player.log, c.log);
        EXPECT_NEAR(c.clock >= 0 ? player.clockAt(c.turns) : c.clock, c.clock, 1e-9);
        // What the schedule counted is what happened.
        EXPECT_EQ(player.schedule.shown(), size_t(std::count(player.log.begin(), player.log.end(), '@')));
        EXPECT_EQ(player.schedule.dropped(), size_t(std::count(player.log.begin(), player.log.end(), 'x')));
        EXPECT_EQ(player.schedule.damagedFrames(), c.damaged.size());
    }
}

}  // namespace
