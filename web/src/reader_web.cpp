// The frame reader for the browser player: a few C entry points over
// FramePictures, called from web/player.js through the WebAssembly module.
// One reader per picture size; the page keeps one per movie.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "reader/pictures.h"
#include "zemo3/playback.h"

namespace {

struct WebReader {
    WebReader(uint32_t w, uint32_t h) : pictures(w, h), width(w), height(h) {}
    nox::FramePictures pictures;
    uint32_t width, height;
    nox::FramePictures::Header header;
    std::string why;
};

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void* zw_malloc(size_t size) { return std::malloc(size); }
EMSCRIPTEN_KEEPALIVE void zw_free(void* p) { std::free(p); }

EMSCRIPTEN_KEEPALIVE WebReader* zw_reader_new(uint32_t width, uint32_t height)
{
    if (!nox::pictureSizeAccepted(width, height))
        return nullptr;
    return new (std::nothrow) WebReader(width, height);
}

EMSCRIPTEN_KEEPALIVE void zw_reader_delete(WebReader* r) { delete r; }

// Checks a frame and restores its texture: the frame's type, or -1 with the
// reason in zw_reader_why().
EMSCRIPTEN_KEEPALIVE int zw_reader_unpack(WebReader* r, const uint8_t* frame, size_t size)
{
    r->why.clear();
    if (!r->pictures.unpack(frame, size, &r->header, &r->why))
        return -1;
    return int(r->header.type);
}

EMSCRIPTEN_KEEPALIVE const char* zw_reader_why(WebReader* r) { return r->why.c_str(); }
EMSCRIPTEN_KEEPALIVE const uint8_t* zw_reader_texture(WebReader* r) { return r->pictures.texture().data(); }
EMSCRIPTEN_KEEPALIVE size_t zw_reader_texture_size(WebReader* r) { return r->pictures.texture().size(); }

// The RGBA picture of the last texture zw_reader_unpack() accepted, rows
// width*4 bytes apart, top row first. 1 when done; 0 with the reason in
// zw_reader_why().
EMSCRIPTEN_KEEPALIVE int zw_reader_rebuild(WebReader* r, uint8_t* rgba)
{
    r->why.clear();
    return r->pictures.rebuild(rgba, size_t(r->width) * 4, &r->why) ? 1 : 0;
}

// What the frame format says of a type: its name for the page, whether it
// has alpha and is drawn through the YCoCg planes, and where each GPU plane
// lies in the texture of a paddedWidth x paddedHeight picture.
EMSCRIPTEN_KEEPALIVE const char* zw_type_label(uint32_t type) { return nox::formatFacts(type).label; }
EMSCRIPTEN_KEEPALIVE int zw_type_alpha(uint32_t type) { return nox::typeHasAlpha(type) ? 1 : 0; }
EMSCRIPTEN_KEEPALIVE int zw_type_ycocg(uint32_t type) { return nox::typeIsYcocg(type) ? 1 : 0; }
EMSCRIPTEN_KEEPALIVE uint32_t zw_plane_count(uint32_t type) { return nox::formatFacts(type).planeCount; }
EMSCRIPTEN_KEEPALIVE uint32_t zw_plane_format(uint32_t type, uint32_t plane)
{
    return plane < 2 ? nox::formatFacts(type).planes[plane].glFormat : 0;
}
EMSCRIPTEN_KEEPALIVE uint32_t zw_plane_scale(uint32_t type, uint32_t plane)
{
    return plane < 2 ? nox::formatFacts(type).planes[plane].scale : 0;
}
EMSCRIPTEN_KEEPALIVE size_t zw_plane_offset(uint32_t type, uint32_t plane, uint32_t paddedWidth, uint32_t paddedHeight)
{
    return nox::texturePlane(type, plane, paddedWidth, paddedHeight).offset;
}
EMSCRIPTEN_KEEPALIVE size_t zw_plane_size(uint32_t type, uint32_t plane, uint32_t paddedWidth, uint32_t paddedHeight)
{
    return nox::texturePlane(type, plane, paddedWidth, paddedHeight).size;
}

// The playback library's shader sources (GLSL 3.30; the page turns them
// into GLSL ES 3.00).
EMSCRIPTEN_KEEPALIVE const char* zw_vertex_shader() { return zemo3_vertex_shader(); }
EMSCRIPTEN_KEEPALIVE const char* zw_fragment_shader(uint32_t type) { return zemo3_fragment_shader(type); }

}  // extern "C"
