// runContained on Windows: the program runs in a job object that kills
// every process in it when its last handle closes, which the system does
// when the caller dies, however it dies.
#include "windows_system.h"

#include <string>

#include "platform/platform.h"

namespace platform {

namespace {

// One argument as CommandLineToArgvW and the C runtime read it back.
std::u16string quoted(const std::string& argument)
{
    const std::u16string text = utf8ToUtf16(argument);
    if (!text.empty() && text.find_first_of(u" \t\"") == std::u16string::npos)
        return text;
    std::u16string out = u"\"";
    size_t backslashes = 0;
    for (char16_t c : text) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, u'\\');
    return out + u"\"";
}

}  // namespace

int runContained(const std::vector<std::string>& argv, double, void (*atEnd)(void*), void* atEndArgument,
                 std::string* error)
{
    if (argv.empty()) {
        *error = "no program to run";
        return -1;
    }
    std::u16string line;
    for (const std::string& a : argv)
        line += (line.empty() ? u"" : u" ") + quoted(a);
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!job || !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process)) {
        *error = "cannot run " + argv[0] + ": error " + std::to_string(GetLastError());
        if (job)
            CloseHandle(job);
        return -1;
    }
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    TerminateJobObject(job, 1);
    CloseHandle(job);
    if (atEnd)
        atEnd(atEndArgument);
    return int(code);
}

}  // namespace platform
