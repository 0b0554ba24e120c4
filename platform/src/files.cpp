// File helpers common to every platform, on the C runtime's streams and
// std::filesystem (names in UTF-8).
#include <algorithm>
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

std::string partialName(const std::string& path)
{
#ifdef _WIN32
    const size_t name = path.find_last_of("/\\");
#else
    const size_t name = path.rfind('/');
#endif
    const size_t dot = path.rfind('.');
    const bool extension = dot != std::string::npos && (name == std::string::npos || dot > name + 1);
    const std::string tag = ".partial-" + std::to_string(processId());
    return extension ? path.substr(0, dot) + tag + path.substr(dot) : path + tag;
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

bool canRead(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f)
        std::fclose(f);
    return f != nullptr;
}

bool canAppend(const std::string& path, std::string* reason)
{
    FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) {
        *reason = std::strerror(errno);
        return false;
    }
    std::fclose(f);
    return true;
}

namespace {

// std::filesystem takes a narrow name in the system's code page on Windows;
// ours are UTF-8 everywhere.
std::filesystem::path fsPath(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

}  // namespace

bool isDirectory(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::is_directory(fsPath(path), ec);
}

std::vector<std::string> filesIn(const std::string& folder)
{
    std::vector<std::string> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(fsPath(folder), ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec))
            files.push_back(std::string(reinterpret_cast<const char*>(it->path().u8string().c_str())));
    std::sort(files.begin(), files.end());
    return files;
}

bool makeDirectories(const std::string& path)
{
    std::error_code ec;
    std::filesystem::create_directories(fsPath(path), ec);
    return isDirectory(path);
}

bool removeTree(const std::string& path)
{
    std::error_code ec;
    const auto removed = std::filesystem::remove_all(fsPath(path), ec);
    return !ec && removed != 0 && removed != static_cast<std::uintmax_t>(-1);
}

std::string temporaryFolder()
{
    std::error_code ec;
    std::u8string folder = std::filesystem::temp_directory_path(ec).u8string();
    while (folder.size() > 1 && (folder.back() == u8'/' || folder.back() == u8'\\'))
        folder.pop_back();
    return std::string(folder.begin(), folder.end());
}

}  // namespace platform
