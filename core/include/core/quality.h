// The encoders' quality tier.
//
// Fast is the encoders as the frame format's writers have always run them,
// byte for byte, and what every host gets. Best searches harder for each
// block's endpoints and indices: slower, never a larger error per block, and
// the same frame format, which every reader decodes alike. A real host never
// asks for it; our own command does, through the ZEMO_QUALITY environment
// variable, which the frame compressor reads when it is made (docs/quality.md).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace nox {

enum class EncodeQuality : uint8_t { Fast, Best };

// "fast", "best"; parseQuality takes them back (and nothing else).
const char* qualityName(EncodeQuality quality);
std::optional<EncodeQuality> parseQuality(std::string_view name);

// What ZEMO_QUALITY asks for, read at each call: Best for "best", Fast for
// anything else or nothing.
EncodeQuality requestedQuality();

}  // namespace nox
