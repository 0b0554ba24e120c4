#include "player/gpu.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "movie_handle.h"
#include "reader/texture.h"

namespace zemo3::gpu {

// ------------------------------------------------------------------ context

std::unique_ptr<OffscreenContext> OffscreenContext::create(std::string* error)
{
    EGLDisplay display = EGL_NO_DISPLAY;
    if (epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless"))
        display = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
        display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
        if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
            *error = "no EGL display to draw offscreen with";
            return nullptr;
        }
    }
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    const EGLint contextAttributes[] = {
        EGL_CONTEXT_MAJOR_VERSION,           3,       EGL_CONTEXT_MINOR_VERSION, 3, EGL_CONTEXT_OPENGL_PROFILE_MASK,
        EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    EGLContext context = EGL_NO_CONTEXT;
    if (eglBindAPI(EGL_OPENGL_API) && eglChooseConfig(display, configAttributes, &config, 1, &configs) && configs > 0)
        context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        if (context != EGL_NO_CONTEXT)
            eglDestroyContext(display, context);
        eglTerminate(display);
        *error = "EGL gives no OpenGL 3.3 core context without a surface";
        return nullptr;
    }
    std::unique_ptr<OffscreenContext> out(new OffscreenContext);
    out->display_ = display;
    out->context_ = context;
    return out;
}

OffscreenContext::~OffscreenContext()
{
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display_, context_);
    eglTerminate(display_);
}

std::string rendererName()
{
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    return std::string(renderer ? renderer : "?") + ", OpenGL " + (version ? version : "?");
}

// ----------------------------------------------------------------- renderer

namespace {

// A checkerboard of 8-pixel squares under pictures with alpha.
const char* kBoardShader = R"(#version 330 core
out vec4 color;
void main()
{
    ivec2 square = ivec2(gl_FragCoord.xy) / 8;
    color = vec4(vec3(((square.x + square.y) & 1) == 1 ? 0.78 : 0.59), 1.0);
}
)";

// The shader or program that compiled or linked, else 0 (it is deleted)
// with GL's log after `what` in error.
unsigned built(unsigned object, bool shader, const char* what, std::string* error)
{
    GLint ok = 0;
    shader ? glGetShaderiv(object, GL_COMPILE_STATUS, &ok) : glGetProgramiv(object, GL_LINK_STATUS, &ok);
    if (ok)
        return object;
    char log[1024] = {};
    shader ? glGetShaderInfoLog(object, sizeof log, nullptr, log)
           : glGetProgramInfoLog(object, sizeof log, nullptr, log);
    *error = std::string(what) + log;
    shader ? glDeleteShader(object) : glDeleteProgram(object);
    return 0;
}

unsigned compile(unsigned kind, const char* source, std::string* error)
{
    const unsigned shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    return built(shader, true, "a shader does not compile: ", error);
}

unsigned link(const char* fragmentSource, std::string* error)
{
    const unsigned vertex = compile(GL_VERTEX_SHADER, zemo3_vertex_shader(), error);
    const unsigned fragment = vertex ? compile(GL_FRAGMENT_SHADER, fragmentSource, error) : 0;
    if (!fragment) {
        glDeleteShader(vertex);
        return 0;
    }
    const unsigned program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    return built(program, false, "the shaders do not link: ", error);
}

}  // namespace

FrameRenderer::~FrameRenderer()
{
    for (unsigned program : programs_)
        if (program)
            glDeleteProgram(program);
    if (board_)
        glDeleteProgram(board_);
    glDeleteTextures(2, textures_);
    glDeleteBuffers(3, buffers_);
    for (void* fence : fences_)
        if (fence)
            glDeleteSync(GLsync(fence));
    for (unsigned buffer : mappedBuffers_) {
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, buffer);
        glUnmapBuffer(GL_PIXEL_UNPACK_BUFFER);
    }
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    if (!mappedBuffers_.empty())
        glDeleteBuffers(GLsizei(mappedBuffers_.size()), mappedBuffers_.data());
    glDeleteVertexArrays(1, &vertexArray_);
    glDeleteFramebuffers(1, &framebuffer_);
    glDeleteTextures(1, &colour_);
}

bool FrameRenderer::init(const Zemo3Info& info, std::string* error)
{
    if (epoxy_gl_version() < 33) {
        *error = "the GL (" + rendererName() + ") is older than OpenGL 3.3";
        return false;
    }
    const bool s3tc = epoxy_has_gl_extension("GL_EXT_texture_compression_s3tc");
    const bool rgtc = epoxy_gl_version() >= 30 || epoxy_has_gl_extension("GL_ARB_texture_compression_rgtc");
    if (!s3tc || !rgtc) {
        *error = "the GL (" + rendererName() + ") has no " + (s3tc ? "RGTC" : "S3TC") + " textures";
        return false;
    }
    info_ = info;
    glGenTextures(2, textures_);
    glGenBuffers(3, buffers_);
    glGenVertexArrays(1, &vertexArray_);
    for (unsigned texture : textures_) {
        glBindTexture(GL_TEXTURE_2D, texture);
        // Nearest: one texel per pixel, and one chroma texel per 2x2 pixels.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    }
    board_ = link(kBoardShader, error);
    return board_ != 0 && glGetError() == GL_NO_ERROR;
}

bool FrameRenderer::ensureProgram(uint32_t type, std::string* error)
{
    if (type >= 6 || !zemo3_fragment_shader(type)) {
        *error = "no shader for frames of type " + std::to_string(type);
        return false;
    }
    if (!programs_[type])
        programs_[type] = link(zemo3_fragment_shader(type), error);
    return programs_[type] != 0;
}

bool FrameRenderer::mapDestinations(size_t bytes, unsigned count)
{
    if (!mapped_.empty() || (epoxy_gl_version() < 44 && !epoxy_has_gl_extension("GL_ARB_buffer_storage")))
        return false;
    const GLbitfield access = GL_MAP_READ_BIT | GL_MAP_WRITE_BIT | GL_MAP_PERSISTENT_BIT | GL_MAP_COHERENT_BIT;
    mappedBuffers_.assign(count, 0);
    glGenBuffers(GLsizei(count), mappedBuffers_.data());
    for (unsigned buffer : mappedBuffers_) {
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, buffer);
        glBufferStorage(GL_PIXEL_UNPACK_BUFFER, GLsizeiptr(bytes), nullptr, access);
        void* memory = glMapBufferRange(GL_PIXEL_UNPACK_BUFFER, 0, GLsizeiptr(bytes), access);
        if (!memory)
            break;
        mapped_.push_back(static_cast<uint8_t*>(memory));
    }
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    if (mapped_.size() != count || glGetError() != GL_NO_ERROR) {
        // Some GL claims the mapping and fails it: frames then come the copying way.
        for (size_t k = 0; k < mapped_.size(); ++k) {
            glBindBuffer(GL_PIXEL_UNPACK_BUFFER, mappedBuffers_[k]);
            glUnmapBuffer(GL_PIXEL_UNPACK_BUFFER);
        }
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        glDeleteBuffers(GLsizei(count), mappedBuffers_.data());
        mappedBuffers_.clear();
        mapped_.clear();
        return false;
    }
    fences_.assign(count, nullptr);
    mappedBytes_ = bytes;
    return true;
}

bool FrameRenderer::destinationBusy(unsigned k)
{
    if (!fences_[k])
        return false;
    if (glClientWaitSync(GLsync(fences_[k]), 0, 0) == GL_TIMEOUT_EXPIRED)
        return true;
    glDeleteSync(GLsync(fences_[k]));
    fences_[k] = nullptr;
    return false;
}

void FrameRenderer::waitDestination(unsigned k)
{
    while (fences_[k] &&
           glClientWaitSync(GLsync(fences_[k]), GL_SYNC_FLUSH_COMMANDS_BIT, 100000000) == GL_TIMEOUT_EXPIRED)
        ;
    destinationBusy(k);
}

bool FrameRenderer::upload(const Zemo3Frame& frame, std::string* error)
{
    if (!ensureProgram(frame.type, error))
        return false;
    type_ = frame.type;
    // The destination the planes were restored into, if they were.
    int from = -1;
    for (size_t k = 0; k < mapped_.size() && frame.planeCount > 0; ++k)
        if (frame.planes[0].data >= mapped_[k] && frame.planes[0].data < mapped_[k] + mappedBytes_)
            from = int(k);
    for (uint32_t i = 0; i < frame.planeCount && i < 2; ++i) {
        const Zemo3Plane& plane = frame.planes[i];
        const GLsizei w = GLsizei(plane.widthBlocks * 4), h = GLsizei(plane.heightBlocks * 4);
        const void* offset = nullptr;
        if (from >= 0) {
            glBindBuffer(GL_PIXEL_UNPACK_BUFFER, mappedBuffers_[size_t(from)]);
            offset = reinterpret_cast<const void*>(plane.data - mapped_[size_t(from)]);
        } else {
            // The buffers are taken in turn, so that the copy into one does
            // not wait for the upload from the one before.
            glBindBuffer(GL_PIXEL_UNPACK_BUFFER, buffers_[nextBuffer_]);
            nextBuffer_ = (nextBuffer_ + 1) % 3;
            glBufferData(GL_PIXEL_UNPACK_BUFFER, GLsizeiptr(plane.size), nullptr, GL_STREAM_DRAW);
            void* mapped = glMapBufferRange(GL_PIXEL_UNPACK_BUFFER, 0, GLsizeiptr(plane.size),
                                            GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
            if (!mapped) {
                glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
                *error = "a pixel buffer cannot be mapped";
                return false;
            }
            std::memcpy(mapped, plane.data, plane.size);
            glUnmapBuffer(GL_PIXEL_UNPACK_BUFFER);
        }
        glBindTexture(GL_TEXTURE_2D, textures_[i]);
        if (textureFormats_[i] != plane.glFormat) {
            // Storage once per format; after that only the contents change.
            glCompressedTexImage2D(GL_TEXTURE_2D, 0, plane.glFormat, w, h, 0, GLsizei(plane.size), nullptr);
            textureFormats_[i] = plane.glFormat;
        }
        glCompressedTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, plane.glFormat, GLsizei(plane.size), offset);
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    }
    if (from >= 0) {
        if (fences_[size_t(from)])
            glDeleteSync(GLsync(fences_[size_t(from)]));
        fences_[size_t(from)] = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    }
    if (const GLenum e = glGetError(); e != GL_NO_ERROR) {
        *error = "the GL refused a texture upload (error 0x" + [e] {
            char text[16];
            std::snprintf(text, sizeof text, "%04X", e);
            return std::string(text);
        }() + ")";
        return false;
    }
    return true;
}

void FrameRenderer::draw(int x, int y, int w, int h, bool board)
{
    glViewport(x, y, w, h);
    glBindVertexArray(vertexArray_);
    if (board) {
        glUseProgram(board_);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glEnable(GL_BLEND);
        glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    }
    if (type_ < 6) {
        const unsigned program = programs_[type_];
        glUseProgram(program);
        for (int i = 0; i < 2; ++i) {
            glActiveTexture(GL_TEXTURE0 + unsigned(i));
            glBindTexture(GL_TEXTURE_2D, textures_[i]);
        }
        glUniform1i(glGetUniformLocation(program, "plane0"), 0);
        glUniform1i(glGetUniformLocation(program, "plane1"), 1);
        glUniform2f(glGetUniformLocation(program, "scale"), float(info_.width) / float(info_.paddedWidth),
                    float(info_.height) / float(info_.paddedHeight));
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glActiveTexture(GL_TEXTURE0);
    }
    glDisable(GL_BLEND);
}

bool FrameRenderer::drawPicture(std::string* error)
{
    const GLsizei w = GLsizei(info_.width), h = GLsizei(info_.height);
    if (!framebuffer_) {
        glGenFramebuffers(1, &framebuffer_);
        glGenTextures(1, &colour_);
        glBindTexture(GL_TEXTURE_2D, colour_);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour_, 0);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            *error = "no offscreen framebuffer of the picture's size";
            return false;
        }
    }
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    draw(0, 0, w, h, false);
    return true;
}

bool FrameRenderer::readPicture(std::vector<uint8_t>* rgba, std::string* error)
{
    const GLsizei w = GLsizei(info_.width), h = GLsizei(info_.height);
    if (!drawPicture(error))
        return false;
    rgba->resize(size_t(w) * size_t(h) * 4);
    std::vector<uint8_t> rows(rgba->size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    // GL's rows go up from the bottom; the picture's top row is drawn at the top.
    const size_t rowBytes = size_t(w) * 4;
    for (GLsizei y = 0; y < h; ++y)
        std::memcpy(rgba->data() + size_t(y) * rowBytes, rows.data() + size_t(h - 1 - y) * rowBytes, rowBytes);
    if (glGetError() != GL_NO_ERROR) {
        *error = "the GL failed to draw or read back a picture";
        return false;
    }
    return true;
}

void FrameRenderer::finish() { glFinish(); }

// ---------------------------------------------------------------- comparing

bool compareWithCpu(const std::string& path, Comparison* result, std::string* error)
{
    const MovieHandle movie = openMovie(path, error);
    if (!movie)
        return false;
    const Zemo3Info info = *zemo3_info(movie.get());
    bool ok = false;
    if (auto context = OffscreenContext::create(error)) {
        FrameRenderer renderer;
        ok = renderer.init(info, error);
        result->renderer = rendererName();
        std::vector<uint8_t> gpu, cpu(size_t(info.width) * info.height * 4), texture;
        double squares = 0;
        Zemo3Frame frame;
        for (int r; ok && (r = zemo3_next_frame(movie.get(), &frame)) != ZEMO3_END;) {
            if (r != ZEMO3_OK) {
                *error = "frame " + std::to_string(result->frames) + ": " + zemo3_error(movie.get());
                ok = false;
                break;
            }
            frameTexture(frame, &texture);
            if (!nox::textureToRgba(frame.type, texture.data(), texture.size(), info.width, info.height, cpu.data(),
                                    size_t(info.width) * 4)) {
                *error = "frame " + std::to_string(frame.index) + " has no CPU picture";
                ok = false;
                break;
            }
            ok = renderer.upload(frame, error) && renderer.readPicture(&gpu, error);
            for (int ch = 0; ch < 4; ++ch)
                result->bound[ch] = std::max(result->bound[ch], boundFor(frame.type, ch));
            for (size_t i = 0; ok && i < gpu.size(); ++i) {
                const int d = std::abs(int(gpu[i]) - int(cpu[i]));
                result->maxDifference[i % 4] = std::max(result->maxDifference[i % 4], d);
                squares += double(d) * d;
            }
            ++result->frames;
        }
        const double samples = double(result->frames) * double(cpu.size());
        result->psnr = squares == 0 ? std::numeric_limits<double>::infinity()
                                    : 10.0 * std::log10(255.0 * 255.0 * samples / squares);
        if (ok && result->frames == 0) {
            *error = "the movie has no frames";
            ok = false;
        }
    }
    return ok;
}

}  // namespace zemo3::gpu
