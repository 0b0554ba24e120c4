// The process-wide logger of noxcore.
//
// Every line is a nine-character level tag, four spaces per indent step and
// the message, handed to one process-wide sink. Nothing is printed when no
// sink is installed. The logger takes no lock; the sink may be called from
// several threads at once.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

namespace nox {

enum LogLevel : uint32_t {
    LOG_INFO = 1,
    LOG_WARNING = 2,
    LOG_ERROR = 4,
    LOG_DEBUG = 8,
};

// The sink receives each finished line as a NUL-terminated string.
using LogSink = void (*)(const char* line);

// Installs the sink (nullptr removes it). Returns the previous one.
LogSink setLogSink(LogSink sink);

// Enabled levels; 7 (INFO, WARNING, ERROR). A level passes when any of its
// bits is enabled.
uint32_t logMask();
uint32_t logIndent();

// "   INFO: ", "WARNING: ", "  ERROR: ", "  DEBUG: ", or "UNKNOWN: " for any
// other value (combined bits included).
const char* logLevelTag(uint32_t level);

// Builds the line (tag, indent, message) and delivers it to the sink.
void writeLogLine(uint32_t level, std::string_view message);

inline void log(uint32_t level, std::string_view text) { writeLogLine(level, text); }

// printf-style message. Messages of any length are kept whole: the text is
// formatted into a 4,096-byte buffer and, when it does not fit, formatted
// again into a buffer of the exact size, so nothing is cut.
void logf(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Message composed of parts: booleans as words, floating-point numbers with
// three significant digits.
template <typename... Parts>
void logParts(uint32_t level, const Parts&... parts)
{
    if ((logMask() & level) == 0)
        return;
    std::ostringstream s;
    s << std::boolalpha;
    s.precision(3);
    (s << ... << parts);
    writeLogLine(level, s.str());
}

// A log section: writes its opening message at INFO and indents the lines
// that follow by one step. close() lowers the indent (never below 0) and
// writes its closing message. Leaving the scope without close() (an
// exception) only lowers the indent.
class LogSection {
public:
    explicit LogSection(std::string_view openMessage);
    ~LogSection();
    void close(std::string_view closeMessage);

    LogSection(const LogSection&) = delete;
    LogSection& operator=(const LogSection&) = delete;

private:
    bool open_ = true;
};

// Lowers the indent by one without writing (the bare half of a section).
void logOutdent();
void logIndentOnce();

}  // namespace nox
