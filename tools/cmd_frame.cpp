// zemo3 frame: compress one raw RGBA picture into a Zemo 3 frame, restore a
// frame's texture, or describe a frame's header.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "codec/zemo3.h"
#include "commands.h"
#include "platform/platform.h"
#include "reader/pictures.h"

namespace {

using namespace zemo3;

const char* kUsage =
    "usage: zemo3 frame encode --type T --width W --height H [--row-bytes R] IN.rgba OUT.zm3\n"
    "       zemo3 frame decode --width W --height H [--type T] IN.zm3 OUT.tex\n"
    "       zemo3 frame info IN.zm3\n"
    "\n"
    "encode  compresses one raw 8-bit picture (bytes R, G, B, A per pixel; rows R bytes\n"
    "        apart, default W*4) into one Zemo 3 frame. T: 0 normal, 1 normal-alpha,\n"
    "        2 high, 3 high-alpha (names or numbers).\n"
    "decode  restores the frame's GPU texture (DXT1/DXT5 blocks or YCoCg planes);\n"
    "        the type comes from the frame unless given. A frame is refused as the\n"
    "        players refuse it, payload bytes the texture leaves over included.\n"
    "info    prints the frame header in words.\n"
    "\n"
    "Exit codes: 0 done, 1 frame rejected, 2 bad arguments or file errors.\n"
    "Nothing is written on failure.\n";

bool sizeArg(const Args& a, const char* name, uint32_t* out, std::string* error)
{
    uint64_t v;
    if (!a.has(name)) {
        *error = std::string("frame: ") + name + " is required";
        return false;
    }
    if (!parseUint(a.get(name), nox::kMaxPictureSide, &v) || v == 0) {
        *error = std::string("frame: ") + name + " must be a number from 1 to " + std::to_string(nox::kMaxPictureSide);
        return false;
    }
    *out = uint32_t(v);
    return true;
}

// The frame file; false (said on stderr) when it cannot be read or is too
// short for any header.
bool readFrame(CommandRun& run, const std::string& path, std::vector<uint8_t>* frame)
{
    std::string error;
    if (!platform::readFile(path, frame, &error))
        return run.stop(EXIT_USAGE, error);
    return frame->size() >= 4 || run.stop(EXIT_REJECTED, "'" + path + "' is too short to be a frame");
}

int encode(const std::vector<std::string>& rest)
{
    CommandRun run("frame encode", kUsage);
    if (!run.parse(rest, {"--type", "--width", "--height", "--row-bytes"}))
        return run.exitCode();
    const Args& a = run.args();
    if (a.positional.size() != 2)
        return run.fail(EXIT_USAGE, "expected IN.rgba and OUT.zm3 (see zemo3 frame --help)");
    int type = parseCompression(a.get("--type"));
    if (type < 0)
        return run.fail(EXIT_USAGE, "--type must be 0..3 or normal, normal-alpha, high, high-alpha");
    uint32_t w, h;
    std::string error;
    if (!sizeArg(a, "--width", &w, &error) || !sizeArg(a, "--height", &h, &error))
        return fail(EXIT_USAGE, error);
    if (!nox::frameSizeFits(uint32_t(type), w, h))
        return run.fail(EXIT_USAGE, std::to_string(w) + "x" + std::to_string(h) +
                                        " is past the codec's limit: a frame, and the picture it is made from "
                                        "padded to whole 16x16 blocks at 4 bytes a pixel, must stay under 2 GiB");
    uint64_t rowBytes = uint64_t(w) * 4;
    if (a.has("--row-bytes") && (!parseUint(a.get("--row-bytes"), 1u << 20, &rowBytes) || rowBytes < uint64_t(w) * 4))
        return run.fail(EXIT_USAGE, "--row-bytes must be at least width*4");

    std::vector<uint8_t> pixels;
    if (!platform::readFile(a.positional[0], &pixels, &error))
        return run.fail(EXIT_USAGE, error);
    const uint64_t needed = rowBytes * (h - 1) + uint64_t(w) * 4;
    if (pixels.size() < needed)
        return run.fail(EXIT_USAGE, "'" + a.positional[0] + "' holds " + std::to_string(pixels.size()) + " bytes; a " +
                                        std::to_string(w) + "x" + std::to_string(h) + " picture needs " +
                                        std::to_string(needed));

    nox::VideoCodecInfoZemo3 info;
    info.setFormatType(uint32_t(type));
    nox::VideoStreamDescription stream(w, h, 30, 1, &info);
    auto compressor = info.createCompressor(stream);
    if (!compressor)
        return run.fail(EXIT_REJECTED, "no compressor for this picture");
    std::vector<uint8_t> frame(compressor->outputBound(), 0);
    int32_t n = compressor->compress(frame.data(), pixels.data(), uint32_t(frame.size()), 0, int32_t(rowBytes));
    if (n < 1)
        return run.fail(EXIT_REJECTED, "the compressor rejected the picture");
    if (!platform::writeFileAtomic(a.positional[1], frame.data(), size_t(n), &error))
        return run.fail(EXIT_USAGE, error);
    nox::FrameHeader header = nox::readFrameHeader(frame.data());
    std::printf("%s: %s, %u bytes (%s payload of %u bytes, texture %u bytes)\n", a.positional[1].c_str(),
                nox::formatTypeName(uint32_t(type)), unsigned(n), header.payloadKind ? "raw" : "packed",
                header.payloadSize, nox::textureSize(uint32_t(type), w, h));
    return EXIT_OK;
}

int decode(const std::vector<std::string>& rest)
{
    CommandRun run("frame decode", kUsage);
    if (!run.parse(rest, {"--type", "--width", "--height"}))
        return run.exitCode();
    const Args& a = run.args();
    if (a.positional.size() != 2)
        return run.fail(EXIT_USAGE, "expected IN.zm3 and OUT.tex (see zemo3 frame --help)");
    uint32_t w, h;
    std::string error;
    if (!sizeArg(a, "--width", &w, &error) || !sizeArg(a, "--height", &h, &error))
        return fail(EXIT_USAGE, error);
    std::vector<uint8_t> frame;
    if (!readFrame(run, a.positional[0], &frame))
        return run.exitCode();
    // The frame is judged as every player judges it: a payload the
    // texture does not use up to its last byte is refused too.
    nox::FramePictures pictures(w, h);
    nox::FrameFacts header;
    std::string why;
    const bool restored = pictures.unpack(frame.data(), frame.size(), &header, &why);
    if (a.has("--type")) {
        uint64_t t;
        if (!parseUint(a.get("--type"), 7, &t))
            return run.fail(EXIT_USAGE, "--type must be 0..7");
        if (t != header.type)
            return run.fail(EXIT_REJECTED, "'" + a.positional[0] + "' is not a valid " +
                                               nox::formatTypeName(uint32_t(t)) + " frame: it holds a " +
                                               nox::formatTypeName(header.type) + " frame");
    }
    if (!restored)
        return run.fail(EXIT_REJECTED, "'" + a.positional[0] + "' is not a valid " + nox::formatTypeName(header.type) +
                                           " frame of " + std::to_string(w) + "x" + std::to_string(h) + ": " + why);
    const std::vector<uint8_t>& texture = pictures.texture();
    if (!platform::writeFileAtomic(a.positional[1], texture.data(), texture.size(), &error))
        return run.fail(EXIT_USAGE, error);
    std::printf("%s: %zu texture bytes (%s)\n", a.positional[1].c_str(), texture.size(),
                nox::formatTypeName(header.type));
    return EXIT_OK;
}

int info(const std::vector<std::string>& rest)
{
    CommandRun run("frame info", kUsage);
    if (!run.parse(rest, {}))
        return run.exitCode();
    const Args& a = run.args();
    if (a.positional.size() != 1)
        return run.fail(EXIT_USAGE, "expected IN.zm3 (see zemo3 frame --help)");
    std::vector<uint8_t> frame;
    if (!readFrame(run, a.positional[0], &frame))
        return run.exitCode();
    nox::FrameFacts h;
    if (!nox::readFrameFacts(frame.data(), frame.size(), &h))
        return run.fail(EXIT_REJECTED, "'" + a.positional[0] + "' ends inside its 12-byte header");
    const bool known = h.headerSize == nox::kFrameHeaderSize;
    const uint32_t tag = h.tag, type = h.type, version = h.version, kind = h.payloadKind;
    const uint32_t payloadSize = h.payloadSize, headerSize = h.headerSize;
    const std::string tagText = {char(tag), char(tag >> 8), char(tag >> 16), char(tag >> 24)};
    std::printf("file:          %s (%zu bytes)\n", a.positional[0].c_str(), frame.size());
    std::printf("texture:       %c%c%c%c (%s, format type %u)\n", tagText[3], tagText[2], tagText[1], tagText[0],
                nox::formatTypeName(type), type);
    std::printf("version:       %u%s\n", version, known ? "" : " (4-byte header of format version 3 or less)");
    std::printf("payload:       %s, %u bytes at offset %u\n", kind == 1 ? "raw texture" : "packed", payloadSize,
                headerSize);
    bool consistent = uint64_t(headerSize) + payloadSize == frame.size();
    std::printf("length check:  %s\n", consistent ? "header and file agree" : "header and file length differ");
    return consistent ? EXIT_OK : EXIT_REJECTED;
}

int cmdFrame(const std::vector<std::string>& args)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? EXIT_USAGE : EXIT_OK;
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "encode")
        return encode(rest);
    if (args[0] == "decode")
        return decode(rest);
    if (args[0] == "info")
        return info(rest);
    return fail(EXIT_USAGE, "frame: unknown sub-command '" + args[0] + "' (encode, decode, info)");
}

}  // namespace

ZEMO3_COMMAND("frame", "encode, decode or describe a single Zemo 3 frame", cmdFrame);
