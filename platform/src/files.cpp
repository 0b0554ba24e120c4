// File helpers common to every platform, on the C runtime's streams and
// std::filesystem (names in UTF-8).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/platform.h"

namespace platform {

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
    if (ok && !replaceFile(temp, path))
        ok = false;
    if (!ok) {
        removeFile(temp);
        *error = "cannot write '" + path + "': " + std::strerror(errno);
    }
    return ok;
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace platform
