#include "core/logger.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace nox {

namespace {

// One logger per process. The mask is read-only after start; the indent is a
// shared counter that only means something to the thread holding a section
// open (the bring-up), but it is atomic so that concurrent readers are safe.
struct Logger {
    uint32_t mask = 7;
    std::atomic<uint32_t> indent{0};
    std::atomic<LogSink> sink{nullptr};
};

Logger& logger()
{
    static Logger instance;  // thread-safe one-time initialisation
    return instance;
}

}  // namespace

LogSink setLogSink(LogSink sink) { return logger().sink.exchange(sink); }
uint32_t logMask() { return logger().mask; }
uint32_t logIndent() { return logger().indent.load(std::memory_order_relaxed); }

const char* logLevelTag(uint32_t level)
{
    switch (level) {
    case LOG_INFO:
        return "   INFO: ";
    case LOG_WARNING:
        return "WARNING: ";
    case LOG_ERROR:
        return "  ERROR: ";
    case LOG_DEBUG:
        return "  DEBUG: ";
    default:
        return "UNKNOWN: ";
    }
}

void writeLogLine(uint32_t level, std::string_view message)
{
    Logger& l = logger();
    if ((l.mask & level) == 0)
        return;
    std::string line = logLevelTag(level);
    uint32_t steps = l.indent.load(std::memory_order_relaxed);
    line.append(size_t(steps) * 4, ' ');
    line.append(message);
    if (LogSink sink = l.sink.load())
        sink(line.c_str());
}

void logf(uint32_t level, const char* format, ...)
{
    if ((logMask() & level) == 0)
        return;
    char buffer[4096];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (size_t(n) < sizeof buffer) {
        va_end(again);
        writeLogLine(level, std::string_view(buffer, size_t(n)));
        return;
    }
    std::vector<char> big(size_t(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, again);
    va_end(again);
    writeLogLine(level, std::string_view(big.data(), size_t(n)));
}

void logIndentOnce() { logger().indent.fetch_add(1, std::memory_order_relaxed); }

void logOutdent()
{
    auto& indent = logger().indent;
    uint32_t cur = indent.load(std::memory_order_relaxed);
    while (cur > 0 && !indent.compare_exchange_weak(cur, cur - 1, std::memory_order_relaxed)) {}
}

LogSection::LogSection(std::string_view openMessage)
{
    writeLogLine(LOG_INFO, openMessage);
    logIndentOnce();
}

LogSection::~LogSection()
{
    if (open_)
        logOutdent();
}

void LogSection::close(std::string_view closeMessage)
{
    if (!open_)
        return;
    open_ = false;
    logOutdent();
    writeLogLine(LOG_INFO, closeMessage);
}

}  // namespace nox
