// The viewer's server: byte ranges of the movie over loopback, tokens, and
// what it refuses to start with. The player's files under the token and the
// refusals of paths and methods: player_test.js, over HTTP; the player found
// where each package installs it: tests/install and tests/windows.
#include <gtest/gtest.h>

#include <set>

#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "common/util.h"
#include "view/server.h"

namespace {

const std::string kToken = "00112233445566778899aabbccddeeff";

void writeText(const std::string& file, const std::string& text)
{
    testutil::writeFile(file, {text.begin(), text.end()});
}

class ViewServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : zemo3::view::kPlayerFiles)
            writeText(dir_.file(name), std::string("the file ") + name);
        movie_.resize(100000);
        for (size_t i = 0; i < movie_.size(); ++i)
            movie_[i] = char('a' + i * 7 % 26);
        writeText(dir_.file("movie.mov"), movie_);
    }

    testutil::TempDir dir_;
    std::string movie_;
};

// The movie's bytes go out over a socket only: a server listening on
// 127.0.0.1, asked by a client.
TEST_F(ViewServer, ServesTheMovieInByteRangesOnLoopback)
{
    zemo3::view::Server listening({dir_.file("movie.mov"), dir_.path().string(), kToken, 0});
    std::string error;
    ASSERT_TRUE(listening.start(&error)) << error;
    EXPECT_EQ(listening.url(), "http://127.0.0.1:" + std::to_string(listening.port()) + "/" + kToken + "/");
    std::thread serving([&] { listening.run(); });
    httplib::Client client("127.0.0.1", listening.port());
    const std::string movie = "/" + kToken + "/movie";
    const auto whole = client.Get(movie);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->status, 200);
    EXPECT_TRUE(whole->body == movie_);
    struct Case {
        std::string range;
        size_t first, length;
    };
    const Case cases[] = {{"bytes=0-0", 0, 1},
                          {"bytes=1000-1999", 1000, 1000},
                          {"bytes=99990-", 99990, 10},
                          {"bytes=-16", 99984, 16},
                          {"bytes=99999-200000", 99999, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        const auto part = client.Get(movie, {{"Range", c.range}});
        ASSERT_TRUE(part);
        EXPECT_EQ(part->status, 206);
        EXPECT_TRUE(part->body == movie_.substr(c.first, c.length)) << part->body.size() << " bytes";
    }
    // A range that starts past the end is refused; ends past it are clipped,
    // in one range or several; nothing is read outside the movie.
    const auto past = client.Get(movie, {{"Range", "bytes=100000-100010"}});
    ASSERT_TRUE(past);
    EXPECT_EQ(past->status, 416);
    const auto parts = client.Get(movie, {{"Range", "bytes=0-3,99998-300000"}});
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->status, 206);
    EXPECT_NE(parts->body.find(movie_.substr(0, 4)), std::string::npos);
    EXPECT_NE(parts->body.find("\r\n\r\n" + movie_.substr(99998, 2) + "\r\n"), std::string::npos);
    EXPECT_LT(parts->body.size(), 1000u);
    const auto suffix = client.Get(movie, {{"Range", "bytes=-300000"}});
    ASSERT_TRUE(suffix);
    EXPECT_LE(suffix->body.size(), movie_.size());
    listening.stop();
    serving.join();
}

TEST_F(ViewServer, TokensAreFreshAndHexadecimal)
{
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string token = zemo3::view::newToken();
        EXPECT_EQ(token.size(), 32u);
        EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 100u);
    // A server made without one draws its own.
    zemo3::view::Server made({dir_.file("movie.mov"), dir_.path().string(), "", 0});
    EXPECT_EQ(made.token().size(), 32u);
}

TEST_F(ViewServer, RefusesAMissingMovieOrPlayerAndABadPort)
{
    const zemo3::view::Settings refused[] = {{dir_.file("absent.mov"), dir_.path().string(), kToken, 0},
                                             {dir_.file("movie.mov"), dir_.file("absent"), kToken, 0},
                                             {dir_.file("movie.mov"), dir_.path().string(), kToken, 70000}};
    for (const auto& settings : refused) {
        std::string error;
        EXPECT_FALSE(zemo3::view::Server(settings).start(&error)) << settings.movie;
    }
}

}  // namespace

#ifndef _WIN32
namespace {

// The browser is whatever xdg-open finds first on PATH: here a script that
// writes down the address it was given.
TEST(OpenInBrowser, HandsTheAddressToXdgOpen)
{
    testutil::TempDir dir;
    const std::string script = dir.file("xdg-open"), said = dir.file("said");
    writeText(script, "#!/bin/sh\nprintf '%s' \"$1\" > " + said + ".part && mv " + said + ".part " + said + "\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    const std::string saved = path ? path : "";
    const std::string url = "http://127.0.0.1:8080/00112233445566778899aabbccddeeff/";
    platform::setEnvironment("PATH", dir.path().string() + ":" + saved);
    EXPECT_TRUE(platform::openInBrowser(url));
    for (int i = 0; i < 500 && !platform::fileSize(said); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<uint8_t> got;
    std::string error;
    EXPECT_TRUE(platform::readFile(said, &got, &error)) << error;
    EXPECT_EQ(std::string(got.begin(), got.end()), url);
    // Without one, it says so.
    platform::setEnvironment("PATH", dir.file("nothing-here"));
    EXPECT_FALSE(platform::openInBrowser(url));
    platform::setEnvironment("PATH", saved);
}

}  // namespace
#endif
