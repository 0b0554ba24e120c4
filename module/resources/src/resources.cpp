#include "resources/resources.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace zexport::resources {

namespace {

void put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

constexpr uint32_t fourCC(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
           uint32_t(uint8_t(s[3]));
}

// The length word holds the data's own length; the padding that follows
// keeps the next property on a 4-byte boundary.
void property(std::vector<uint8_t>& out, uint32_t key, const std::vector<uint8_t>& data)
{
    put32(out, fourCC("8BIM"));
    put32(out, key);
    put32(out, 0);
    put32(out, uint32_t(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), (4 - data.size() % 4) % 4, uint8_t(0));
}

std::vector<uint8_t> pascalString(std::string_view s)
{
    std::vector<uint8_t> data(s.size() + 1);
    data[0] = uint8_t(s.size());
    std::copy(s.begin(), s.end(), data.begin() + 1);
    return data;
}

// The entry point's name is a C string: the NUL belongs to the data.
std::vector<uint8_t> cString(std::string_view s)
{
    std::vector<uint8_t> data(s.begin(), s.end());
    data.push_back(0);
    return data;
}

std::vector<uint8_t> code(uint32_t v)
{
    std::vector<uint8_t> data;
    put32(data, v);
    return data;
}

}  // namespace

std::vector<uint8_t> piplResource()
{
    std::vector<uint8_t> out;
    put16(out, 1);
    put32(out, 0);
    put32(out, 5);
    property(out, fourCC("kind"), code(fourCC("AEgx")));
    property(out, fourCC("name"), pascalString("Zemo 3"));
    property(out, fourCC("catg"), pascalString("General Plugin"));
    property(out, fourCC("vers"), {0x00, 0x00, 0x01, 0x00});
    property(out, fourCC("8664"), cString("EntryPointFunc"));
    return out;
}

const VersionStrings& versionStrings()
{
    static const VersionStrings strings{
        "Zemo 3 Exporter plug-in using additions to the AEGP API.",
        "1, 0, 0, 1",
        "Zemo3",
    };
    return strings;
}

const platform::DialogTemplate& optionsDialogTemplate()
{
    static const platform::DialogItemTemplate items[] = {
        {1, "button", u"OK", 0x50010001, 7, 52, 35, 14},
        {2, "button", u"Cancel", 0x50010000, 45, 52, 50, 14},
        {kCompressionListId, "combobox", nullptr, 0x50210003, 7, 22, 117, 14},
        {kCompressionLabelId, "static", u"Compression", 0x50020200, 7, 7, 48, 12},
        {kVersionLabelId, "static", u"0.0.0", 0x50020202, 99, 54, 64, 12},
    };
    static const platform::DialogTemplate dialog{
        u"Zemo 3 Format Options", u"MS Shell Dlg", 8, 400, 1, 0x80C808C8, 0x80, 0, 0, 171, 75, items, std::size(items),
    };
    return dialog;
}

}  // namespace zexport::resources
