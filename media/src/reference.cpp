#include "media/reference.h"

#include <cmath>

#include "core/rational.h"

namespace zemo3 {

bool openReference(const ReferenceRequest& request, uint32_t movieWidth, uint32_t movieHeight, Reference* ref,
                   std::string* error)
{
    ref->sound = request.sound;
    if (request.demo) {
        const Composition c = demoComposition(request.width, request.height, request.fpsNum, request.fpsDen,
                                              request.duration, ref->sound);
        ref->source = openDemo(c);
        ref->name = "the demo composition";
        ref->frames = c.frames;
        ref->exactLength = true;
        return true;
    }
    ref->source =
        openMedia(request.path, request.width ? request.width : movieWidth,
                  request.width ? request.height : movieHeight, request.fpsNum, request.fpsDen, ref->sound, error);
    if (!ref->source)
        return false;
    const Composition& c = ref->source->composition();
    if (request.duration > 0)
        ref->limit = nox::framesInSeconds(request.duration, c.fpsNum, c.fpsDen);
    ref->frames = c.frames;
    ref->name = "'" + request.path + "'";
    return true;
}

bool referencePicture(Reference& ref, uint64_t n, std::vector<uint8_t>* rgba)
{
    if (n >= ref.limit)
        return false;
    SourcePicture picture;
    if (!ref.source->frame(n, &picture))
        return false;
    const Composition& c = ref.source->composition();
    // The module hands the compressor RGBA converted from the host's ARGB.
    rgba->resize(size_t(c.width) * c.height * 4);
    for (uint32_t y = 0; y < c.height; ++y) {
        const uint8_t* s = picture.data + size_t(y) * picture.rowBytes;
        uint8_t* d = rgba->data() + size_t(y) * c.width * 4;
        for (uint32_t x = 0; x < c.width; ++x, s += 4, d += 4)
            d[0] = s[1], d[1] = s[2], d[2] = s[3], d[3] = s[0];
    }
    return true;
}

}  // namespace zemo3
