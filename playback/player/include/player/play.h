// zemo3 play: a Zemo 3 movie played the way the format is meant to be
// played. Each frame's texture goes to the GPU as it is stored (compressed
// blocks through pixel-buffer objects) and a shader turns it into pixels;
// the CPU only restores the packed blocks. In a window they are restored on
// a thread that runs ahead of the display, the sound plays through SDL2 and
// is the clock the pictures follow, and frames that come too late are
// dropped and counted, never shown out of order. Offscreen (EGL) every frame
// is drawn in turn, without sound or pacing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zemo3 {

// The figures of a window's status line.
struct PlayStatus {
    int64_t frame = -1;   // the frame shown or dropped last
    double seconds = 0;   // where the clock stands
    double decodeMs = 0;  // reading and unpacking the frame shown last
    double uploadMs = 0;  // its upload
    uint64_t dropped = 0;
    bool paused = false;
};

struct PlayOptions {
    std::string movie;
    uint64_t frames = 0;      // stop once this many frames were drawn or shown (0: all)
    bool loop = false;        // window: start again at the end (key l toggles it)
    bool fullscreen = false;  // window: start in full screen (key f toggles it)
    std::string screenshot;   // window: the last picture shown, written there as a PNG
    // Offscreen: every picture drawn, as dump/frame_00000.png ... numbered
    // like the frames, at the movie's size, RGBA with straight alpha.
    std::string dump;
    // Window: the figures, whenever the clock moved half a second since the
    // last call.
    std::function<void(const PlayStatus&)> status;
    // Offscreen: a damaged frame skipped, with the reader's reason.
    std::function<void(const std::string&)> damaged;
};

struct PlayResult {
    enum Status {
        DONE,
        REFUSED,     // no Zemo 3 movie, or no window or GL that can draw it
        FILE_ERROR,  // the movie is missing or unreadable, or a picture was not written
    } status = DONE;
    std::string error;   // why, when not DONE
    uint64_t shown = 0;  // frames drawn offscreen, or shown in the window
    uint64_t dropped = 0, damaged = 0;
    std::string renderer;  // offscreen: the GL's name and version
};

// Draws the movie's frames offscreen, restored straight into two mapped
// pixel-buffer objects in turn where the GL has them.
PlayResult playOffscreen(const PlayOptions& options);

// Plays the movie in a window, picture and sound, until its end (unless it
// loops), the frame limit or the user quits. Keys: space pause, left/right
// one frame, home first frame, l loop, f full screen, q or Esc quit.
PlayResult playInWindow(const PlayOptions& options);

}  // namespace zemo3
