#include "reference.h"

#include <cmath>

namespace zemo3 {

const std::set<std::string> kReferenceOptions = {"--reference", "--size", "--fps", "--duration"};
const std::set<std::string> kReferenceFlags = {"--demo", "--no-sound"};
const char* kReferenceUsage =
    "  --reference SRC  compare with SRC: any media file FFmpeg reads or an image\n"
    "                   sequence (scaled to the movie's size, as render reads it)\n"
    "  --demo           compare with the built-in demo composition, rendered with\n"
    "                   the settings render was given (its defaults unless set):\n"
    "    --size WxH       demo picture size (default 1280x720)\n"
    "    --fps RATE       frame rate, e.g. 25, 29.97 or 30000/1001 (default 30)\n"
    "    --duration S     seconds (demo default 5; limits a media reference too)\n"
    "    --no-sound       the reference has no sound\n";


bool openReference(const Args& args, uint32_t movieWidth, uint32_t movieHeight, Reference* ref, std::string* error)
{
    const bool demo = args.has("--demo");
    if (demo && args.has("--reference")) {
        *error = "give --reference or --demo, not both";
        return false;
    }
    if (!demo && !args.has("--reference")) {
        for (const char* o : {"--size", "--fps", "--duration", "--no-sound"})
            if (args.has(o)) {
                *error = std::string(o) + " describes a reference: add --demo or --reference";
                return false;
            }
        return true;
    }
    uint32_t width = 0, height = 0;
    if (args.has("--size") && !parseSizeText(args.get("--size"), &width, &height)) {
        *error = "--size must look like 1920x1080";
        return false;
    }
    int32_t fpsNum = 0, fpsDen = 0;
    if (args.has("--fps") && !parseRate(args.get("--fps"), &fpsNum, &fpsDen)) {
        *error = "--fps must be a rate such as 25, 29.97 or 30000/1001";
        return false;
    }
    double duration = -1;
    if (args.has("--duration")) {
        try {
            duration = std::stod(args.get("--duration"));
        } catch (...) {
        }
        if (!(duration > 0 && duration < 1e6)) {
            *error = "--duration must be a positive number of seconds";
            return false;
        }
    }
    ref->sound = !args.has("--no-sound");
    if (demo) {
        Composition c;
        if (width)
            c.width = width, c.height = height;
        if (fpsNum)
            c.fpsNum = fpsNum, c.fpsDen = fpsDen;
        const double seconds = duration > 0 ? duration : 5.0;
        c.frames = uint64_t(std::llround(seconds * c.fpsNum / c.fpsDen));
        if (!ref->sound)
            c.sampleRate = 0, c.channels = 0;
        ref->source = openDemo(c);
        ref->name = "the demo composition";
        ref->frames = c.frames;
        ref->exactLength = true;
        return true;
    }
    const std::string path = args.get("--reference");
    ref->source = openMedia(path, width ? width : movieWidth, height ? height : movieHeight, fpsNum, fpsDen,
                            ref->sound, error);
    if (!ref->source)
        return false;
    const Composition& c = ref->source->composition();
    if (duration > 0)
        ref->limit = uint64_t(std::llround(duration * c.fpsNum / c.fpsDen));
    ref->frames = c.frames;
    ref->name = "'" + path + "'";
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
