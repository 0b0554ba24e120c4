// Helpers every test program may use: a scratch folder, file contents, a byte
// hash, the process's thread count, and running a command line.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>  // first: the other Windows headers stand on it

#include <tlhelp32.h>
#else
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace testutil {

using Bytes = std::vector<uint8_t>;

inline uint64_t fnv1a(const uint8_t* p, size_t n)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 0x100000001B3ull;
    return h;
}
inline uint64_t fnv1a(const Bytes& b) { return fnv1a(b.data(), b.size()); }

// A fresh folder under the system's temporary folder, removed with all it holds.
class TempDir {
public:
    TempDir()
    {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const auto name = std::filesystem::temp_directory_path() / ("zemo3-test-" + std::to_string(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(name, ec))
                path_ = name;
        }
    }
    ~TempDir() { platform::removeTree(path_.string()); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string slurp(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::string& file, const Bytes& bytes)
{
    platform::writeFileAtomic(file, bytes.data(), bytes.size(), nullptr);
}

// Threads of this process, as the system lists them.
inline size_t threadCount()
{
    size_t n = 0;
#ifdef _WIN32
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        n += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
#else
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
#endif
    return n;
}

struct Run {
    int code = -1;  // the exit status, -1 when the command did not exit normally
    std::string out, err;
};

// This test program's own file, quoted for a command line.
inline std::string self() { return "\"" + platform::executablePath() + "\""; }

// Runs a command line through the shell (cmd.exe on Windows) with nothing on
// its standard input.
inline Run run(const std::string& command)
{
    TempDir dir;
    const std::string out = dir.file("out"), err = dir.file("err");
#ifdef _WIN32
    // cmd.exe drops the first and the last quote of the line: one more pair keeps the rest as it is.
    const int code = std::system(("\"" + command + " >\"" + out + "\" 2>\"" + err + "\" <NUL\"").c_str());
#else
    const int status = std::system((command + " >" + out + " 2>" + err + " </dev/null").c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return {code, slurp(out), slurp(err)};
}

// run() with environment variables set for the command (and restored after).
inline Run run(const std::vector<std::pair<std::string, std::string>>& environment, const std::string& command)
{
    std::vector<std::pair<std::string, std::string>> saved;
    for (const auto& [name, value] : environment) {
        const char* old = std::getenv(name.c_str());
        saved.emplace_back(name, old ? old : "");
        platform::setEnvironment(name, value);
    }
    Run r = run(command);
    for (const auto& [name, value] : saved)
        platform::setEnvironment(name, value);
    return r;
}

}  // namespace testutil
