// Captures log lines through the process-wide sink for the length of a scope.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/logger.h"

class LogCapture {
public:
    LogCapture() : previous_(nox::setLogSink(&sink)) { take(); }
    ~LogCapture() { nox::setLogSink(previous_); }
    // The lines so far; the capture starts afresh.
    static std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(lines_, {});
    }

private:
    static void sink(const char* line)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.emplace_back(line);
    }
    static inline std::mutex mutex_;
    static inline std::vector<std::string> lines_;
    nox::LogSink previous_;
};
