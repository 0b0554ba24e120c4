// Captures log lines through the process-wide sink for the length of a scope.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/logger.h"

class LogCapture {
public:
    LogCapture() { previous_ = nox::setLogSink(&LogCapture::sink); lines().clear(); }
    ~LogCapture() { nox::setLogSink(previous_); }
    static std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> lock(mutex());
        return lines();
    }

private:
    static void sink(const char* line)
    {
        std::lock_guard<std::mutex> lock(mutex());
        lines().emplace_back(line);
    }
    static std::vector<std::string>& lines()
    {
        static std::vector<std::string> v;
        return v;
    }
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    nox::LogSink previous_;
};
