// The operating-system layer: the few services the rest of the system needs
// from the machine, so that nothing above it talks to the OS directly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// Monotonic clock in milliseconds with sub-millisecond resolution; only
// differences are meaningful.
double monotonicMilliseconds();

// UTF-16 (NUL-terminated) to UTF-8. Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const char16_t* text);
std::string utf16ToUtf8(std::u16string_view text);
std::u16string utf8ToUtf16(std::string_view text);

// CPU time every thread of this process has used, in seconds.
double processCpuSeconds();
// The system's load average over the last minute; negative where the system
// keeps none (Windows).
double loadAverage();
// The process's id, and its environment (in UTF-8): a variable's value, or
// nullopt when it is not set.
uint32_t processId();
void setEnvironment(const std::string& name, const std::string& value);
std::optional<std::string> environmentValue(const std::string& name);

// Files by UTF-8 name (Windows' narrow file calls take the host's code page).
// removeFile: false when nothing was removed. replaceFile moves `from` over
// `to`, replacing a file already there; false with the system's reason.
bool removeFile(const std::string& path);
bool replaceFile(const std::string& from, const std::string& to, std::string* reason = nullptr);
// Whether the file can be opened for reading.
bool canRead(const std::string& path);
// Reads a whole file; false with a message on failure.
bool readFile(const std::string& path, std::vector<uint8_t>* data, std::string* error);
// Writes through a temporary file renamed into place, so a failed write
// leaves nothing behind; false with a message on failure.
bool writeFileAtomic(const std::string& path, const uint8_t* data, size_t size, std::string* error);
// Whether two paths name one existing file (through links and other spellings):
// an output that is its own input would be destroyed before it is read.
bool sameFile(const std::string& a, const std::string& b);
// The size of what the path names (a folder's own entry for a folder);
// nullopt when the system cannot look at it, with its reason ("No such file
// or directory") in *reason.
std::optional<uint64_t> fileSize(const std::string& path, std::string* reason = nullptr);
bool isDirectory(const std::string& path);
// The paths of the regular files in a folder (not below it), sorted; none
// when it cannot be read.
std::vector<std::string> filesIn(const std::string& folder);
// Opens the file for appending, making it when it is missing, and closes it
// again: whether it can be written, with the system's reason when not.
bool canAppend(const std::string& path, std::string* reason);
// Folders: makeDirectories makes the folder and the missing ones above it
// (true when it is there afterwards); removeTree removes a folder and all it
// holds (false when nothing was removed).
bool makeDirectories(const std::string& path);
bool removeTree(const std::string& path);
// The name a file goes by while it is written, beside its final name: the
// same folder and extension (writers choose a container by the extension),
// with the process's id, so that jobs writing one name never share a file:
// "shots/clip.mov" -> "shots/clip.partial-4242.mov". Renamed with
// replaceFile once complete, a killed job leaves nothing under the final name.
std::string partialName(const std::string& path);
// The system's folder for temporary files, without a separator at its end.
std::string temporaryFolder();

// A whole file mapped into memory, read-only, for as long as the object
// lives: its bytes are read straight from the system's file cache, without a
// copy. A file that shrinks while mapped is not the reader's to survive.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False with the system's reason when the file cannot be mapped (an
    // empty file maps as no bytes).
    bool open(const std::string& path, std::string* error);
    const uint8_t* data() const { return data_; }
    uint64_t size() const { return size_; }

private:
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    void* handle_ = nullptr;  // the mapping object, where the system has one
};

// Whether a standard stream (stdout, stderr) goes to a terminal.
bool isTerminal(std::FILE* stream);

// Modules (shared libraries, DLLs) by UTF-8 file name, loaded plainly: on
// Windows LoadLibraryW of the full path, with no search flags, as the strictest
// host loads plug-ins. nullptr with a message when the module cannot be loaded.
void* loadModule(const std::string& path, std::string* error);
// The folder the Windows installer put the plug-in module into (ending in the
// separator), from the registry; empty where there is none, and on Linux.
std::string installedPluginFolder();
// The file a plug-in module called `name` is: the host's extension on
// Windows (name.aex), a shared library elsewhere (name.so).
std::string pluginModuleFile(const std::string& name);
void* moduleSymbol(void* module, const char* name);
void unloadModule(void* module);
// The file of the running program; empty when the system does not tell.
std::string executablePath();
// Keeps the module that holds the address mapped until the process ends,
// even once its host frees it (on Windows; nothing elsewhere): threads it
// started may outlive the host's hold on it.
void pinModule(const void* addressInModule);
// Opens a URL in the user's browser (xdg-open; on Windows the shell's
// handler), without waiting for it. False when it could not be started.
bool openInBrowser(const std::string& url);

// Processor time the whole machine has used (busy: every process's user and
// system time) and had (total: elapsed time times processors) since some
// fixed moment, in one unit; two samples give the load between them.
bool sampleProcessorTimes(uint64_t* busy, uint64_t* total);

// Thread priorities in the host's scale: -15 idle, -2 lowest, -1 below normal,
// 0 normal, 1 above normal, 2 highest, 15 time critical. Applies to the calling
// thread; returns false when the OS refuses (raising priority usually needs
// privileges on Linux, where the request is then left at the current level).
bool setCurrentThreadPriority(int priority);

// Runs the program argv[0] (looked up on PATH) with the arguments after it,
// it and every process it starts kept together, daemons that leave its
// process tree included: when the program ends, what it left running is
// killed; when the caller dies, however it dies (SIGKILL included), the
// program is asked to end (SIGTERM; on Windows it is killed at once), given
// graceSeconds, and then everything is killed. atEnd runs once all are down,
// where the system lets it (not after the caller's death on Windows). The
// program's exit code (128 + the signal that ended it), or -1 with the reason
// when it did not start.
int runContained(const std::vector<std::string>& argv, double graceSeconds, void (*atEnd)(void*), void* atEndArgument,
                 std::string* error);

// A lock with its condition variable: a critical section and a condition
// variable on Windows, a mutex and a condition variable elsewhere. Usable
// with std::lock_guard. Wake-ups may come without wakeAll.
class Monitor {
public:
    static constexpr uint32_t kForever = 0xFFFFFFFFu;
    Monitor();
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;
    void lock();
    void unlock();
    // With the lock held: sleeps until woken or the time is up (false), then
    // holds the lock again.
    bool wait(uint32_t milliseconds = kForever);
    void wakeAll();

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

// The platform half of a thread: one operating-system thread running
// body(argument). ThreadPimplWindows creates it with _beginthreadex and sets
// its priority through SetThreadPriority; the POSIX one sets it from inside.
class ThreadPimpl {
public:
    virtual ~ThreadPimpl() = default;
    // Starts the thread at a priority of the host's scale; false when the
    // system makes none.
    virtual bool start(void (*body)(void*), void* argument, int priority) = 0;
    // Waits for the thread to end and lets go of it; nothing when none is held.
    virtual void join() = 0;
    virtual bool joinable() const = 0;
};
std::unique_ptr<ThreadPimpl> makeThreadPimpl();

}  // namespace platform
