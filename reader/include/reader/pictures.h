// Whole frames to pictures: header facts, the checks a player or a verifier
// needs with the reason for each refusal, and the RGBA picture, spread over
// threads for large frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "reader/frame_decoder.h"

namespace nox {

// True for format types that store alpha (1, 3, 5).
bool typeHasAlpha(uint32_t type);

// Restores Zemo 3 frames of one picture size to RGBA.
class FramePictures {
public:
    // With checkPayloadUse, a packed payload must also be used to its last
    // byte (the writer's always are); the check unpacks each packed frame a
    // second time.
    FramePictures(uint32_t width, uint32_t height, bool checkPayloadUse = false)
        : width_(width), height_(height), checkPayloadUse_(checkPayloadUse)
    {
    }

    // Header facts of a frame, readable without decoding it (readFrameFacts).
    using Header = FrameFacts;
    // False when the frame is too short to hold its header.
    static bool readHeader(const uint8_t* frame, size_t size, Header* header);

    // The RGBA rebuild of pictures of at least minimumRows rows is spread
    // over up to `threads` threads of the process-wide worker pool (1: the
    // calling thread only, the default). Results are the same either way.
    void setThreads(unsigned threads, uint32_t minimumRows = 256);

    // Decodes one frame into rgba (width*height*4 bytes, rows width*4 apart,
    // A = 255 for types without alpha). False with the reason when the frame
    // is malformed, of a type that has no picture here (6, 7) or its header
    // and length disagree.
    bool decode(const uint8_t* frame, size_t size, std::vector<uint8_t>* rgba, Header* header, std::string* why);
    // The same into a caller's picture with rows `stride` bytes apart.
    bool decode(const uint8_t* frame, size_t size, uint8_t* rgba, size_t stride, Header* header, std::string* why);

    // decode() in its two steps, for callers that overlap them (a player
    // restores the next frame's texture while this one's picture is built):
    // unpack() checks the frame and restores its texture, rebuild() turns the
    // last texture unpack() accepted into the picture.
    bool unpack(const uint8_t* frame, size_t size, Header* header, std::string* why);
    bool rebuild(uint8_t* rgba, size_t stride);
    // The texture of the last frame decode() accepted.
    const std::vector<uint8_t>& texture() const { return texture_; }

private:
    uint32_t width_, height_;
    bool checkPayloadUse_;
    uint32_t type_ = 0;  // of the texture unpack() accepted last
    unsigned threads_ = 1;
    uint32_t minimumRows_ = 256;
    std::vector<uint8_t> texture_, scratch_;
};

}  // namespace nox
