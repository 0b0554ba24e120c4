#include "platform/platform.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

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

void setAvailableMemoryProbe(MemoryProbe probe)
{
    g_memoryProbe.store(probe, std::memory_order_release);
}

WallTime wallClock()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return {int64_t(ts.tv_sec), uint16_t(ts.tv_nsec / 1000000)};
}

uint64_t millisecondsSince1970()
{
    WallTime t = wallClock();
    return uint64_t(t.seconds) * 1000 + t.milliseconds;
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
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
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

bool setCurrentThreadPriority(int priority)
{
    // Map the host's scale onto nice values of the calling thread. Below-normal
    // levels always succeed; above-normal ones need privileges and are refused
    // otherwise, leaving the thread at normal priority.
    int nice = 0;
    if (priority <= -15) nice = 19;
    else if (priority == -2) nice = 10;
    else if (priority == -1) nice = 5;
    else if (priority == 0) nice = 0;
    else if (priority == 1) nice = -5;
    else if (priority == 2) nice = -10;
    else nice = -20;
    pid_t tid = pid_t(syscall(SYS_gettid));
    return setpriority(PRIO_PROCESS, id_t(tid), nice) == 0;
}

}  // namespace platform
