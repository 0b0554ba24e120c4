#include "cli.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace zemo3 {

Args parseArgs(const std::vector<std::string>& in, const std::set<std::string>& valued,
               const std::set<std::string>& flags)
{
    Args a;
    for (size_t i = 0; i < in.size(); ++i) {
        const std::string& s = in[i];
        if (s == "--help" || s == "-h") {
            a.help = true;
            continue;
        }
        if (s.size() > 1 && s[0] == '-' && !(s.size() > 1 && (s[1] >= '0' && s[1] <= '9'))) {
            std::string name = s, value;
            bool inlineValue = false;
            size_t eq = s.find('=');
            if (eq != std::string::npos) {
                name = s.substr(0, eq);
                value = s.substr(eq + 1);
                inlineValue = true;
            }
            if (valued.count(name)) {
                if (!inlineValue) {
                    if (i + 1 >= in.size()) {
                        a.error = "option " + name + " needs a value";
                        return a;
                    }
                    value = in[++i];
                }
                a.options[name] = value;
            } else if (flags.count(name) && !inlineValue) {
                a.flags.insert(name);
            } else {
                a.error = "unknown option '" + s + "'";
                return a;
            }
            continue;
        }
        a.positional.push_back(s);
    }
    return a;
}

bool parseUint(const std::string& text, uint64_t max, uint64_t* value)
{
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        uint64_t next = v * 10 + uint64_t(c - '0');
        if (next / 10 != v)
            return false;
        v = next;
    }
    if (v > max)
        return false;
    *value = v;
    return true;
}

int parseCompression(const std::string& text)
{
    static const char* names[] = {"normal", "normal-alpha", "high", "high-alpha"};
    for (int i = 0; i < 4; ++i)
        if (text == names[i] || text == std::to_string(i))
            return i;
    return -1;
}

bool parseRate(const std::string& text, int32_t* num, int32_t* den)
{
    double value = 0;
    try {
        size_t used = 0;
        const size_t slash = text.find('/');
        if (slash != std::string::npos) {
            const double a = std::stod(text.substr(0, slash), &used);
            const double b = std::stod(text.substr(slash + 1));
            if (!(b > 0))
                return false;
            value = a / b;
            *num = int32_t(a);
            *den = int32_t(b);
        } else {
            value = std::stod(text, &used);
            if (used != text.size())
                return false;
            // Decimal rates are a fraction over 1000, so 29.97 stays exact.
            *num = int32_t(std::lround(value * 1000));
            *den = 1000;
            if (*num % 1000 == 0)
                *num /= 1000, *den = 1;
        }
    } catch (...) {
        return false;
    }
    return value > 0 && value < 1000 && *num > 0 && *den > 0;
}

bool parseSizeText(const std::string& text, uint32_t* width, uint32_t* height)
{
    const size_t x = text.find('x');
    uint64_t a, b;
    if (x == std::string::npos || !parseUint(text.substr(0, x), 16384, &a) ||
        !parseUint(text.substr(x + 1), 16384, &b) || a == 0 || b == 0)
        return false;
    *width = uint32_t(a);
    *height = uint32_t(b);
    return true;
}

bool readFile(const std::string& path, std::vector<uint8_t>* data, std::string* error)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open '" + path + "': " + std::strerror(errno);
        return false;
    }
    data->clear();
    uint8_t buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        data->insert(data->end(), buffer, buffer + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok)
        *error = "cannot read '" + path + "'";
    return ok;
}

bool writeFileAtomic(const std::string& path, const uint8_t* data, size_t size, std::string* error)
{
    std::string temp = path + ".partial";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        *error = "cannot write '" + path + "': " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = (std::fclose(f) == 0) && ok;
    if (ok && !platform::replaceFile(temp, path))
        ok = false;
    if (!ok) {
        platform::removeFile(temp);
        *error = "cannot write '" + path + "': " + std::strerror(errno);
    }
    return ok;
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace zemo3
