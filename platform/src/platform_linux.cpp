#include "platform/platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace platform {

unsigned processorCount()
{
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1u;
}

namespace {

uint64_t readMemAvailable()
{
    // MemAvailable is the kernel's own estimate of what can be allocated
    // without swapping, the closest match to "available physical memory".
    FILE* f = std::fopen("/proc/meminfo", "r");
    if (!f) {
        long pages = sysconf(_SC_AVPHYS_PAGES), size = sysconf(_SC_PAGESIZE);
        return pages > 0 && size > 0 ? uint64_t(pages) * uint64_t(size) : 0;
    }
    char line[256];
    uint64_t kb = 0;
    while (std::fgets(line, sizeof line, f)) {
        unsigned long long v;
        if (std::sscanf(line, "MemAvailable: %llu kB", &v) == 1) {
            kb = v;
            break;
        }
    }
    std::fclose(f);
    return kb * 1024;
}

std::atomic<MemoryProbe> g_memoryProbe{nullptr};

}  // namespace

uint64_t availablePhysicalMemory()
{
    MemoryProbe probe = g_memoryProbe.load(std::memory_order_acquire);
    return probe ? probe() : readMemAvailable();
}

void setAvailableMemoryProbe(MemoryProbe probe) { g_memoryProbe.store(probe, std::memory_order_release); }

WallTime wallClock()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return {int64_t(ts.tv_sec), uint16_t(ts.tv_nsec / 1000000)};
}

double monotonicMilliseconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

std::string utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool setCurrentThreadPriority(int priority)
{
    // Map the host's scale onto nice values of the calling thread. Below-normal
    // levels always succeed; above-normal ones need privileges and are refused
    // otherwise, leaving the thread at normal priority.
    int nice = 0;
    if (priority <= -15)
        nice = 19;
    else if (priority == -2)
        nice = 10;
    else if (priority == -1)
        nice = 5;
    else if (priority == 0)
        nice = 0;
    else if (priority == 1)
        nice = -5;
    else if (priority == 2)
        nice = -10;
    else
        nice = -20;
#ifdef __EMSCRIPTEN__
    return nice >= 0;  // the browser build (web/) runs one thread, which has no priority to change
#else
    pid_t tid = pid_t(syscall(SYS_gettid));
    return setpriority(PRIO_PROCESS, id_t(tid), nice) == 0;
#endif
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double loadAverage()
{
    double load[1] = {-1};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

uint32_t processId() { return uint32_t(getpid()); }

void setEnvironment(const std::string& name, const std::string& value) { setenv(name.c_str(), value.c_str(), 1); }

std::optional<std::string> environmentValue(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

bool removeFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool replaceFile(const std::string& from, const std::string& to, std::string* reason)
{
    if (std::rename(from.c_str(), to.c_str()) == 0)
        return true;
    if (reason)
        *reason = std::strerror(errno);
    return false;
}

void pinModule(const void*) {}

MappedFile::~MappedFile()
{
    if (data_)
        munmap(const_cast<uint8_t*>(data_), size_t(size_));
}

bool MappedFile::open(const std::string& path, std::string* error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        *error = std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    size_ = uint64_t(st.st_size);
    void* map = size_ ? mmap(nullptr, size_t(size_), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0) : nullptr;
    const int saved = errno;
    close(fd);
    if (map == MAP_FAILED) {
        *error = std::strerror(saved);
        size_ = 0;
        return false;
    }
    data_ = static_cast<const uint8_t*>(map);
    return true;
}

std::optional<uint64_t> fileSize(const std::string& path, std::string* reason)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (reason)
            *reason = std::strerror(errno);
        return std::nullopt;
    }
    return uint64_t(st.st_size);
}

bool isTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

void* loadModule(const std::string& path, std::string* error)
{
    dlerror();
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module && error) {
        const char* e = dlerror();
        *error = e ? e : "cannot load " + path;
    }
    return module;
}

std::string installedPluginFolder() { return {}; }

std::string pluginModuleFile(const std::string& name) { return name + ".so"; }

void* moduleSymbol(void* module, const char* name) { return module ? dlsym(module, name) : nullptr; }

void unloadModule(void* module)
{
    if (module)
        dlclose(module);
}

std::string executablePath()
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    return n > 0 ? std::string(self, size_t(n)) : std::string();
}

bool sampleProcessorTimes(uint64_t* busy, uint64_t* total)
{
    FILE* f = std::fopen("/proc/stat", "r");
    if (!f)
        return false;
    unsigned long long v[8] = {};
    const int n = std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4],
                              &v[5], &v[6], &v[7]);
    std::fclose(f);
    if (n < 4)
        return false;
    *total = 0;
    for (auto x : v)
        *total += x;
    *busy = *total - v[3] - v[4];  // everything but idle and iowait
    return true;
}

struct Monitor::Native {
    std::mutex mutex;
    std::condition_variable cond;
};

Monitor::Monitor() : native_(std::make_unique<Native>()) {}
Monitor::~Monitor() = default;
void Monitor::lock() { native_->mutex.lock(); }
void Monitor::unlock() { native_->mutex.unlock(); }
void Monitor::wakeAll() { native_->cond.notify_all(); }

bool Monitor::wait(uint32_t milliseconds)
{
    std::unique_lock<std::mutex> held(native_->mutex, std::adopt_lock);
    bool woken = true;
    if (milliseconds == kForever)
        native_->cond.wait(held);
    else
        woken = native_->cond.wait_for(held, std::chrono::milliseconds(milliseconds)) == std::cv_status::no_timeout;
    held.release();
    return woken;
}

namespace {

class ThreadPimplPosix : public ThreadPimpl {
public:
    ~ThreadPimplPosix() override { join(); }
    bool start(void (*body)(void*), void* argument, int priority) override
    {
        body_ = body;
        argument_ = argument;
        priority_ = priority;
        joinable_ = pthread_create(&thread_, nullptr, &ThreadPimplPosix::main, this) == 0;
        return joinable_;
    }
    void join() override
    {
        if (joinable_)
            pthread_join(thread_, nullptr);
        joinable_ = false;
    }
    bool joinable() const override { return joinable_; }

private:
    static void* main(void* self)
    {
        auto* t = static_cast<ThreadPimplPosix*>(self);
        setCurrentThreadPriority(t->priority_);
        t->body_(t->argument_);
        return nullptr;
    }
    pthread_t thread_{};
    bool joinable_ = false;
    void (*body_)(void*) = nullptr;
    void* argument_ = nullptr;
    int priority_ = 0;
};

}  // namespace

std::unique_ptr<ThreadPimpl> makeThreadPimpl() { return std::make_unique<ThreadPimplPosix>(); }

bool openInBrowser(const std::string& url)
{
    // xdg-open's own output stays on the terminal; a thread of its own reaps it.
    char* const argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(url.c_str()), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, argv, environ) != 0)
        return false;
    std::thread([child] { waitpid(child, nullptr, 0); }).detach();
    return true;
}

}  // namespace platform
