// GLSL sources that draw a frame's planes as the CPU decoder in
// reader/src/texture.cpp rebuilds them: DXT planes as sampled, YCoCg as
// G = Y + Cg, R = Y - Cg + Co, B = Y - Cg - Co with Co and Cg stored around
// one half, clamped.
#include "zemo3/playback.h"

#include <string>

#include "codec/frame_format.h"

#define ZEMO3_API extern "C" __attribute__((visibility("default")))

namespace {

// A triangle strip over the viewport; texel row 0 is the top of the picture,
// so v runs from 0 at the top to 1 at the bottom.
const char* const kVertex = R"(#version 330 core
out vec2 uv;
void main()
{
    vec2 corner = vec2(gl_VertexID & 1, gl_VertexID >> 1);
    uv = vec2(corner.x, 1.0 - corner.y);
    gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
}
)";

const char* const kDxt = R"(#version 330 core
in vec2 uv;
out vec4 color;
uniform sampler2D plane0;
uniform sampler2D plane1;
uniform vec2 scale;
void main()
{
    color = texture(plane0, uv * scale);
}
)";

// Plane 0 holds Y in red (and alpha in green for type 3), plane 1 Co in red
// and Cg in green, one texel per 2x2 pixels.
// ALPHA is defined before it.
const char* const kYcocgBody = R"(
in vec2 uv;
out vec4 color;
uniform sampler2D plane0;
uniform sampler2D plane1;
uniform vec2 scale;
void main()
{
    vec2 at = uv * scale;
    vec2 luma = texture(plane0, at).rg;
    vec2 chroma = texture(plane1, at).rg - 0.5;
    float y = luma.r, co = chroma.r, cg = chroma.g;
    color = clamp(vec4(y - cg + co, y + cg, y - cg - co, ALPHA), 0.0, 1.0);
}
)";

}  // namespace

ZEMO3_API const char* zemo3_vertex_shader(void) { return kVertex; }

ZEMO3_API const char* zemo3_fragment_shader(uint32_t type)
{
    const nox::FormatFacts& facts = nox::formatFacts(type);
    if (facts.planeCount == 0)
        return nullptr;
    if (!facts.ycocg)
        return kDxt;
    // The luma plane's second channel holds alpha where the type has it.
    static const std::string opaque = std::string("#version 330 core\n#define ALPHA 1.0") + kYcocgBody;
    static const std::string alpha = std::string("#version 330 core\n#define ALPHA luma.g") + kYcocgBody;
    return facts.alpha ? alpha.c_str() : opaque.c_str();
}
