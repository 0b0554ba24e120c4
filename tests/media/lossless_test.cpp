// Lossless copies in process: a video with the movie's sound, a picture
// sequence, and outputs that cannot take the copy, which leave nothing.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/movies.h"
#include "media/lossless.h"

namespace {

using namespace zemo3;

class Lossless : public testutil::EveryTypeSuite<48, 32, 3> {};

TEST_F(Lossless, CopiesAVideoOrASequenceAndLeavesNothingWhenItCannot)
{
    const struct {
        std::string out;
        LosslessFault fault;
        const char* codec;  // or what the error says
    } cases[] = {
        {dir_->file("copy.mkv"), LosslessFault::None, "ffv1"},
        {dir_->file("seq_%02d.png"), LosslessFault::None, "png"},
        {dir_->file("copy.mp4"), LosslessFault::Output, "cannot carry the pcm_s16le sound"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        MovieReader reader;
        std::string error;
        ASSERT_TRUE(reader.open(movie(1), &error)) << error;
        LosslessCopy copy;
        LosslessFault fault = LosslessFault::Movie;
        uint64_t lastSeen = 0;
        const bool done = copyLossless(
            reader, "m.mov", c.out, true, [&](uint64_t frames, uint64_t, bool) { lastSeen = frames; }, &copy, &fault,
            &error);
        EXPECT_EQ(done, c.fault == LosslessFault::None) << error;
        EXPECT_EQ(fault, c.fault);
        EXPECT_NE((done ? copy.codec : error).find(c.codec), std::string::npos) << error;
        EXPECT_EQ(lastSeen, done ? 9u : lastSeen);
        EXPECT_EQ(copy.soundCopied, done && !isPictureSequence(c.out));
    }
    EXPECT_TRUE(std::filesystem::exists(dir_->file("seq_08.png")));
    EXPECT_FALSE(std::filesystem::exists(dir_->file("seq_09.png")));
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_->path())) {
        EXPECT_EQ(entry.path().string().find("partial"), std::string::npos) << entry.path();
        ++files;
    }
    EXPECT_EQ(files, 4u + 1 + 9) << "the movies, the copy and the sequence; no copy.mp4";
    EXPECT_NE(losslessOutputProblem(movie(0), dir_->file("none/x.mkv")).find("no folder"), std::string::npos);
    EXPECT_NE(losslessOutputProblem(movie(0), movie(0)).find("is the movie being decoded"), std::string::npos);
    EXPECT_EQ(losslessOutputProblem(movie(0), dir_->file("ok.mkv")), "");
}

}  // namespace
