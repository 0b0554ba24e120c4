// zemo3 play's reading side and clock, in process: frames read ahead on
// their thread come in order in the destinations given, a seek throws away
// what was read before it, and without sound the clock is the wall's and
// stands while paused.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "common/movies.h"
#include "player/read_ahead.h"
#include "player/sound_clock.h"

namespace {

class Reading : public testutil::EveryTypeSuite<64, 48, 3> {};

// The next `count` frames' numbers (fewer at the end), each checked to own its planes.
std::vector<int64_t> takeFrames(zemo3::ReadAhead& reader, size_t count, std::set<const uint8_t*>& seen)
{
    std::vector<int64_t> numbers;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (numbers.size() < count && std::chrono::steady_clock::now() < deadline) {
        zemo3::Restored r;
        bool end = false;
        if (!reader.take(&r, &end)) {
            if (end)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        EXPECT_EQ(r.result, ZEMO3_OK);
        // The planes one after the other in the frame's destination, which
        // goes back to the reader (it stops after kDestinations without).
        EXPECT_GE(r.slot, 0);
        for (uint32_t i = 1; i < r.frame.planeCount; ++i)
            EXPECT_EQ(r.frame.planes[i].data, r.frame.planes[i - 1].data + r.frame.planes[i - 1].size);
        seen.insert(r.frame.planes[0].data);
        reader.release(r.slot);
        numbers.push_back(r.frame.index);
    }
    return numbers;
}

TEST_F(Reading, FramesComeAheadInOrderAndASeekStartsAgain)
{
    char message[256] = {};
    Zemo3Movie* opened = zemo3_open(movie(3).c_str(), message, sizeof message);
    ASSERT_NE(opened, nullptr) << message;
    {
        // Destinations of the caller's: frames come in them and in no other memory.
        std::vector<std::vector<uint8_t>> memory(zemo3::ReadAhead::kDestinations,
                                                 std::vector<uint8_t>(zemo3_frame_bytes(opened)));
        std::vector<uint8_t*> destinations;
        for (auto& m : memory)
            destinations.push_back(m.data());
        std::set<const uint8_t*> seen;
        zemo3::ReadAhead reader(opened, destinations, memory[0].size());
        EXPECT_EQ(takeFrames(reader, 100, seen), std::vector<int64_t>({0, 1, 2, 3, 4, 5, 6, 7, 8}));
        reader.seek(6);
        EXPECT_EQ(takeFrames(reader, 100, seen), std::vector<int64_t>({6, 7, 8}));
        reader.seek(2);
        EXPECT_EQ(takeFrames(reader, 2, seen), std::vector<int64_t>({2, 3}));
        reader.seek(0);  // what was read ahead of 4 goes
        EXPECT_EQ(takeFrames(reader, 1, seen), std::vector<int64_t>({0}));
        for (const uint8_t* at : seen)
            EXPECT_NE(std::find(destinations.begin(), destinations.end(), at), destinations.end());
    }
    zemo3::SoundClock clock(opened, Zemo3Info{});  // no sound: the wall clock
    EXPECT_FALSE(clock.playing());
    clock.restart(2.0, true);
    EXPECT_EQ(clock.seconds(), 2.0);
    clock.pause(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    clock.pause(true);
    const double paused = clock.seconds();
    EXPECT_GE(paused, 2.03);
    EXPECT_LT(paused, 12.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(clock.seconds(), paused);
    zemo3_close(opened);
}

}  // namespace
