// zemo3 play's window loop in process (player/play.h), in a window of SDL's
// offscreen video driver (GL through EGL, no display), with SDL's dummy sound
// device: what it plays, how far, and what it refuses. The offscreen loop is
// play_test's, through the command.
#include <SDL.h>
#include <gtest/gtest.h>

#include "common/movies.h"
#include "player/gpu.h"
#include "player/gpu_timing.h"
#include "player/play.h"

namespace {

using zemo3::PlayOptions;
using zemo3::PlayResult;

// One second at 30 frames a second of every type; bad.mov is the normal-alpha
// one with three frames damaged, junk.mov no movie at all.
class PlaySession : public testutil::EveryTypeSuite<64, 48, 10> {
protected:
    static void SetUpTestSuite()
    {
        EveryTypeSuite::SetUpTestSuite();
        ASSERT_TRUE(testutil::remux(movie(1), dir_->file("bad.mov"), testutil::damageThreeFrames));
        testutil::writeFile(dir_->file("junk.mov"), testutil::Bytes(4096, 0x21));
    }
};

// The window plays to the end (frames late on a busy machine are dropped,
// never lost), to the limit (looping past the end), or until q is pressed;
// its last picture is saved at the window's size; damaged frames are passed
// over and counted.
TEST_F(PlaySession, AWindowPlaysToItsEndOrLimitOrUntilQuit)
{
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    SDL_SetHint(SDL_HINT_AUDIODRIVER, "dummy");
    const std::string shot = dir_->file("shot.png");
    const struct {
        std::string movie;
        uint64_t frames;
        bool loop, quit;
        std::string screenshot;
        PlayResult::Status status;
        uint64_t shownAndDropped, damaged;
    } cases[] = {
        {movie(0), 0, false, false, "", PlayResult::DONE, 30, 0},
        {movie(2), 45, true, false, "", PlayResult::DONE, 45, 0},
        {movie(3), 10, false, false, shot, PlayResult::DONE, 10, 0},
        {movie(1), 10, false, false, dir_->file("junk.mov") + "/shot.png", PlayResult::FILE_ERROR, 10, 0},
        {dir_->file("bad.mov"), 0, false, false, "", PlayResult::DONE, 27, 3},
        {movie(0), 0, false, true, "", PlayResult::DONE, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.movie + " " + std::to_string(c.frames) + (c.quit ? " quit" : ""));
        PlayOptions o;
        o.movie = c.movie, o.frames = c.frames, o.loop = c.loop, o.screenshot = c.screenshot;
        int statusLines = 0;
        o.status = [&](const zemo3::PlayStatus&) {
            ++statusLines;
            if (!c.quit)
                return;
            SDL_Event key{};
            key.type = SDL_KEYDOWN;
            key.key.keysym.sym = SDLK_q;
            SDL_PushEvent(&key);
        };
        const PlayResult r = zemo3::playInWindow(o);
        EXPECT_EQ(r.status, c.status) << r.error;
        EXPECT_GE(statusLines, 1);
        if (c.quit) {
            EXPECT_LT(r.shown + r.dropped, 5u);
            continue;
        }
        // With a limit every frame counted is shown.
        EXPECT_EQ(c.frames ? r.shown : r.shown + r.dropped, c.shownAndDropped);
        EXPECT_EQ(r.damaged, c.damaged);
    }
    // 64x48 fits the window as it is: the PNG header's width and height.
    EXPECT_EQ(testutil::slurp(shot).substr(16, 8), std::string("\0\0\0\x40\0\0\0\x30", 8));
}

// zemo3 play --bench's side of the player: every frame read into memory of
// its own, its planes in order in it; the uploads and draws timed on the GL.
// A file that is no movie is refused.
TEST_F(PlaySession, FramesLoadIntoMemoryAndTheirUploadIsTimed)
{
    std::string error;
    auto context = zemo3::gpu::OffscreenContext::create(&error);
    ASSERT_TRUE(context) << error;
    zemo3::gpu::LoadedFrames loaded, junk;
    EXPECT_FALSE(junk.load(dir_->file("junk.mov"), &error));
    EXPECT_FALSE(error.empty());
    ASSERT_TRUE(loaded.load(movie(3), &error)) << error;
    ASSERT_EQ(loaded.frames.size(), 30u);
    const testutil::Bytes picture = loaded.picture(29);
    ASSERT_EQ(picture.size(), 64u * 48 * 4);
    for (size_t i = 0; i < loaded.frames.size(); ++i) {
        const Zemo3Frame f = loaded.frame(i);
        EXPECT_EQ(f.index, int64_t(i));
        ASSERT_EQ(f.planeCount, 2u);
        EXPECT_EQ(f.planes[0].data, loaded.textures[i].data());
        EXPECT_EQ(f.planes[1].data + f.planes[1].size, loaded.textures[i].data() + loaded.textures[i].size());
    }
    zemo3::gpu::GpuTimes times;
    ASSERT_TRUE(zemo3::gpu::timeUploadAndDraw(loaded, &times, &error)) << error;
    EXPECT_GT(times.uploadMs + times.drawMs, 0);
}

}  // namespace
