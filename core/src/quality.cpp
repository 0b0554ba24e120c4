#include "core/quality.h"

#include "platform/platform.h"

namespace nox {

const char* qualityName(EncodeQuality quality) { return quality == EncodeQuality::Best ? "best" : "fast"; }

std::optional<EncodeQuality> parseQuality(std::string_view name)
{
    if (name == "fast")
        return EncodeQuality::Fast;
    if (name == "best")
        return EncodeQuality::Best;
    return std::nullopt;
}

EncodeQuality requestedQuality()
{
    const std::optional<std::string> text = platform::environmentValue("ZEMO_QUALITY");
    return text && *text == "best" ? EncodeQuality::Best : EncodeQuality::Fast;
}

}  // namespace nox
