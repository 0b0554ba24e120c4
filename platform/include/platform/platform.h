// The operating-system layer: the few services the rest of the system needs
// from the machine, so that nothing above it talks to the OS directly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Number of processors the OS reports online (at least 1).
unsigned processorCount();

// Physical memory currently available to new allocations, in bytes.
// Tests can replace the probe; pass nullptr to restore the real one.
uint64_t availablePhysicalMemory();
using MemoryProbe = uint64_t (*)();
void setAvailableMemoryProbe(MemoryProbe probe);

// Wall clock: whole seconds since 1970-01-01 UTC and the milliseconds past them.
struct WallTime {
    int64_t seconds;
    uint16_t milliseconds;
};
WallTime wallClock();
uint64_t millisecondsSince1970();

// Monotonic clock in milliseconds with sub-millisecond resolution; only
// differences are meaningful.
double monotonicMilliseconds();

// UTF-16 (NUL-terminated) to UTF-8. Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const char16_t* text);
std::string utf16ToUtf8(std::u16string_view text);
std::u16string utf8ToUtf16(std::string_view text);

// Thread priorities in the host's scale: -15 idle, -2 lowest, -1 below normal,
// 0 normal, 1 above normal, 2 highest, 15 time critical. Applies to the calling
// thread; returns false when the OS refuses (raising priority usually needs
// privileges on Linux, where the request is then left at the current level).
bool setCurrentThreadPriority(int priority);

}  // namespace platform
