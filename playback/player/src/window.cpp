#include "player/window.h"

#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>

namespace zemo3::gpu {

GlWindow::~GlWindow()
{
    if (gl_)
        SDL_GL_DeleteContext(gl_);
    if (window_)
        SDL_DestroyWindow(window_);
}

bool GlWindow::open(const std::string& title, uint32_t width, uint32_t height, bool fullscreen, std::string* error)
{
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    const double fit = std::min({1.0, 1280.0 / width, 720.0 / height});
    window_ =
        SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, std::max(1, int(width * fit)),
                         std::max(1, int(height * fit)),
                         SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | (fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0));
    gl_ = window_ ? SDL_GL_CreateContext(window_) : nullptr;
    if (!gl_) {
        *error = std::string("no OpenGL 3.3 core context: ") + SDL_GetError();
        return false;
    }
    SDL_GL_SetSwapInterval(1);
    return true;
}

std::vector<uint8_t> readBackBuffer(int w, int h)
{
    std::vector<uint8_t> rgb(size_t(w) * size_t(h) * 3), top(rgb.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    const size_t row = size_t(w) * 3;
    for (int y = 0; y < h; ++y)
        std::memcpy(&top[size_t(y) * row], &rgb[size_t(h - 1 - y) * row], row);
    return top;
}

}  // namespace zemo3::gpu
