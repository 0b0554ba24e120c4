// runContained on Linux: two reapers. The caller's process adopts what the
// program's processes orphan and forks a keeper that does the same and is
// told (a parent-death signal) when the caller dies; the keeper runs the
// program. Whatever daemonizes (forks away and starts a session of its own)
// is still a child of the keeper or of the caller, and is found there.
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

volatile sig_atomic_t callerGone = 0;
void noteCallerGone(int) { callerGone = 1; }

// Sends `signal` to every child of this process (from /proc/PID/stat, whose
// fourth field is the parent); how many there were.
int signalChildren(int signal)
{
    const pid_t self = getpid();
    int found = 0;
    DIR* proc = opendir("/proc");
    if (!proc)
        return 0;
    while (const dirent* entry = readdir(proc)) {
        char path[300], text[512];
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        std::snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        FILE* f = std::fopen(path, "r");
        if (!f)
            continue;
        const size_t n = std::fread(text, 1, sizeof text - 1, f);
        std::fclose(f);
        text[n] = 0;
        const char* close = std::strrchr(text, ')');
        char state = 0;
        int parent = 0;
        if (close && std::sscanf(close + 1, " %c %d", &state, &parent) == 2 && parent == self) {
            kill(pid_t(std::atoi(entry->d_name)), signal);
            ++found;
        }
    }
    closedir(proc);
    return found;
}

// Kills every process below this one and reaps them: as each goes, what it
// leaves behind comes here, until nothing is left.
void killAll()
{
    while (true) {
        signalChildren(SIGKILL);
        if (waitpid(-1, nullptr, 0) < 0 && errno == ECHILD)
            return;
    }
}

void pause(double seconds)
{
    const timespec t{time_t(seconds), long((seconds - time_t(seconds)) * 1e9)};
    nanosleep(&t, nullptr);
}

int exitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// The keeper: runs the program, then takes down what is left.
[[noreturn]] void keep(const std::vector<std::string>& argv, double grace, void (*atEnd)(void*), void* argument,
                       pid_t caller, int report)
{
    struct sigaction action {};
    action.sa_handler = noteCallerGone;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &action, nullptr);
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != caller)
        callerGone = 1;
    const pid_t program = fork();
    if (program == 0) {
        signal(SIGTERM, SIG_DFL), signal(SIGINT, SIG_DFL), signal(SIGHUP, SIG_DFL);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        const int why = errno;
        [[maybe_unused]] ssize_t w = write(report, &why, sizeof why);
        _exit(127);
    }
    close(report);
    // Reaps what ends (the program, and daemons it orphaned) until the
    // program ends or the caller dies; then, the caller gone, gives the
    // program its grace to tidy up after a SIGTERM.
    int status = 0, code = 1;
    bool ended = program < 0;
    double graceLeft = grace;
    bool asked = false;
    while (!ended && (!asked || graceLeft > 0)) {
        if (callerGone && !asked)
            kill(program, SIGTERM), asked = true;
        const pid_t p = waitpid(-1, &status, WNOHANG);
        if (p == program)
            ended = true, code = exitCode(status);
        else if (p < 0 && errno == ECHILD)
            ended = true;
        else if (p <= 0) {
            pause(0.05);
            if (asked)
                graceLeft -= 0.05;
        }
    }
    killAll();
    if (atEnd)
        atEnd(argument);
    _exit(code);
}

}  // namespace

int runContained(const std::vector<std::string>& argv, double graceSeconds, void (*atEnd)(void*), void* atEndArgument,
                 std::string* error)
{
    if (argv.empty()) {
        *error = "no program to run";
        return -1;
    }
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        *error = std::strerror(errno);
        return -1;
    }
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    const pid_t caller = getpid();
    const pid_t keeper = fork();
    if (keeper < 0) {
        *error = std::strerror(errno);
        close(report[0]), close(report[1]);
        return -1;
    }
    if (keeper == 0) {
        close(report[0]);
        keep(argv, graceSeconds, atEnd, atEndArgument, caller, report[1]);
    }
    close(report[1]);
    int why = 0;
    const bool failed = read(report[0], &why, sizeof why) == ssize_t(sizeof why);
    close(report[0]);
    int status = 0;
    while (waitpid(keeper, &status, 0) < 0 && errno == EINTR) {}
    // Should the keeper itself have been killed, its orphans came here.
    killAll();
    if (failed) {
        *error = "cannot run " + argv[0] + ": " + std::strerror(why);
        return -1;
    }
    return exitCode(status);
}

}  // namespace platform
