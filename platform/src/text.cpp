// Text conversion shared by every platform: UTF-8 to UTF-16, and the
// NUL-terminated form of UTF-16 to UTF-8.
#include "platform/platform.h"

namespace platform {

std::string utf16ToUtf8(const char16_t* text)
{
    if (!text)
        return {};
    size_t n = 0;
    while (text[n])
        ++n;
    return utf16ToUtf8(std::u16string_view(text, n));
}

std::u16string utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        uint32_t c = s[i];
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + size_t(extra) >= n) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (extra > 0) {
            c &= (0x3F >> extra);
            bool ok = true;
            for (int k = 1; k <= extra; ++k) {
                if ((s[i + k] & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                c = (c << 6) | (s[i + k] & 0x3F);
            }
            if (!ok) {
                out += u'\uFFFD';
                ++i;
                continue;
            }
        }
        i += size_t(extra) + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
    }
    return out;
}

}  // namespace platform
