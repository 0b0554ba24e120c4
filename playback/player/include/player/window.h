// zemo3 play's window: an SDL2 window with an OpenGL 3.3 core context, and
// what it shows read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SDL_Window;

namespace zemo3::gpu {

// A window for pictures of width x height, fitted into 1280x720 at most,
// with its GL context current; for use once SDL's video is started.
class GlWindow {
public:
    GlWindow() = default;
    ~GlWindow();
    GlWindow(const GlWindow&) = delete;
    GlWindow& operator=(const GlWindow&) = delete;

    // False with SDL's reason when no such window or context can be had.
    bool open(const std::string& title, uint32_t width, uint32_t height, bool fullscreen, std::string* error);
    SDL_Window* get() const { return window_; }

private:
    SDL_Window* window_ = nullptr;
    void* gl_ = nullptr;  // SDL_GLContext
};

// The current context's back buffer, w x h, as 8-bit RGB rows from the top:
// what the window shows after the next swap.
std::vector<uint8_t> readBackBuffer(int w, int h);

}  // namespace zemo3::gpu
