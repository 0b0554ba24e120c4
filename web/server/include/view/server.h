// `zemo3 view`: a small HTTP server on the loopback interface that serves the
// browser player's files and one movie, under a random secret token.
//
//   /TOKEN/            the player's page (index.html)
//   /TOKEN/<file>      one of the player's files (kPlayerFiles)
//   /TOKEN/movie       the movie, with range requests
//
// Anything else is answered 404: other paths, other tokens, `..` in any form.
// Only GET and HEAD are served.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zemo3::view {

// The files of the player (build-web/player/, or installed).
extern const char* const kPlayerFiles[6];

// The player's folder: $ZEMO3_PLAYER_DIR when set; else share/zemo3/player
// beside the installed command (bin/../share/zemo3/player); else player/
// beside the command (zemo3.exe as the Windows packages install it); else
// build-web/player of the source tree the command was built from. "" with
// the places looked at in *error when none holds the player.
std::string findPlayerFolder(const std::string& executable, std::string* error);

// A fresh secret: 32 hexadecimal digits from the system's random source.
std::string newToken();

struct Settings {
    std::string movie;         // the one movie served
    std::string playerFolder;  // holds kPlayerFiles
    std::string token;         // newToken() when empty
    int port = 0;              // 0: a free port chosen by the system
};

class Server {
public:
    explicit Server(Settings settings);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Maps the movie and reads the player's files. False with the reason.
    bool load(std::string* error);
    // load(), then binds 127.0.0.1. False with the reason.
    bool start(std::string* error);
    int port() const;
    const std::string& token() const;
    // http://127.0.0.1:PORT/TOKEN/
    std::string url() const;
    // Serves until stop() (from another thread) or the process ends.
    void run();
    void stop();

    // One request as it would come off the wire, answered without a socket
    // (after load()): the response's bytes. What the fuzz target drives.
    std::string answer(std::string_view request);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zemo3::view
