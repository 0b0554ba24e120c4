// Helpers every test program may use: a scratch folder, file contents, a byte
// hash, the process's thread count, and running a command line.
#pragma once

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
        std::string name = (std::filesystem::temp_directory_path() / "zemo3-test-XXXXXX").string();
        if (mkdtemp(name.data()))
            path_ = name;
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
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
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Threads of this process, as the kernel lists them.
inline size_t threadCount()
{
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

struct Run {
    int code = -1;  // the exit status, -1 when the command did not exit normally
    std::string out, err;
};

// Runs a command line through the shell, stdin from /dev/null.
inline Run run(const std::string& command)
{
    TempDir dir;
    const std::string out = dir.file("out"), err = dir.file("err");
    const int status = std::system((command + " >" + out + " 2>" + err + " </dev/null").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
}

}  // namespace testutil
