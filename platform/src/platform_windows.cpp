// The operating-system layer on 64-bit Windows.
#include "windows_system.h"

#include <io.h>
#include <process.h>
#include <psapi.h>
#include <shellapi.h>
#include <sys/stat.h>
#include <sys/timeb.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

#include "platform/dialog.h"
#include "platform/platform.h"

namespace platform {

unsigned processorCount()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? unsigned(info.dwNumberOfProcessors) : 1u;
}

namespace {

std::atomic<MemoryProbe> g_memoryProbe{nullptr};

std::wstring wide(const std::string& utf8)
{
    const std::u16string text = utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string lastErrorText()
{
    const DWORD code = GetLastError();
    wchar_t* buffer = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = n ? utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), n))
                         : "error " + std::to_string(code);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

}  // namespace

uint64_t availablePhysicalMemory()
{
    if (MemoryProbe probe = g_memoryProbe.load(std::memory_order_acquire))
        return probe();
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? uint64_t(status.ullAvailPhys) : 0;
}

void setAvailableMemoryProbe(MemoryProbe probe) { g_memoryProbe.store(probe, std::memory_order_release); }

WallTime wallClock()
{
    __timeb64 t;
    _ftime64(&t);
    return {int64_t(t.time), uint16_t(t.millitm)};
}

double monotonicMilliseconds()
{
    static const double msPerTick = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return 1000.0 / double(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) * msPerTick;
}

// Code page 65001 is UTF-8; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text)
{
    if (text.empty())
        return {};
    const auto* in = reinterpret_cast<const wchar_t*>(text.data());
    const int n = WideCharToMultiByte(65001, 0, in, int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(65001, 0, in, int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

double processCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    auto value = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return double(value(kernel) + value(user)) * 1e-7;
}

double loadAverage() { return -1; }

uint32_t processId() { return uint32_t(GetCurrentProcessId()); }

void setEnvironment(const std::string& name, const std::string& value) { _putenv_s(name.c_str(), value.c_str()); }

std::optional<std::string> environmentValue(const std::string& name)
{
    const wchar_t* value = _wgetenv(wide(name).c_str());
    if (!value)
        return std::nullopt;
    return utf16ToUtf8(reinterpret_cast<const char16_t*>(value));
}

bool removeFile(const std::string& path) { return _wremove(wide(path).c_str()) == 0; }

bool replaceFile(const std::string& from, const std::string& to, std::string* reason)
{
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        return true;
    if (reason)
        *reason = lastErrorText();
    return false;
}

void pinModule(const void* addressInModule)
{
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       static_cast<LPCWSTR>(addressInModule), &pinned);
}

MappedFile::~MappedFile()
{
    if (data_)
        UnmapViewOfFile(data_);
    if (handle_)
        CloseHandle(handle_);
}

bool MappedFile::open(const std::string& path, std::string* error)
{
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size{};
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) {
        *error = "cannot open the file (Windows error " + std::to_string(GetLastError()) + ")";
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return false;
    }
    size_ = uint64_t(size.QuadPart);
    if (size_ != 0) {
        handle_ = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (handle_)
            data_ = static_cast<const uint8_t*>(MapViewOfFile(handle_, FILE_MAP_READ, 0, 0, 0));
    }
    const DWORD failure = GetLastError();
    CloseHandle(file);
    if (size_ != 0 && !data_) {
        *error = "cannot map the file (Windows error " + std::to_string(failure) + ")";
        size_ = 0;
        return false;
    }
    return true;
}

std::optional<uint64_t> fileSize(const std::string& path, std::string* reason)
{
    struct _stat64 st {};
    if (_wstat64(wide(path).c_str(), &st) != 0) {
        if (reason)
            *reason = std::strerror(errno);
        return std::nullopt;
    }
    return uint64_t(st.st_size);
}

bool isTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void* loadModule(const std::string& path, std::string* error)
{
    // A plain load of the full path, as the strictest host loads plug-ins: no
    // search flags, so the module must need nothing beside it (FFmpeg is
    // linked into it).
    const std::wstring name = wide(path);
    wchar_t full[MAX_PATH * 4];
    const DWORD n = GetFullPathNameW(name.c_str(), DWORD(std::size(full)), full, nullptr);
    HMODULE module = LoadLibraryW(n > 0 && n < std::size(full) ? full : name.c_str());
    if (!module && error)
        *error = "cannot load " + path + ": " + lastErrorText();
    return module;
}

std::string pluginModuleFile(const std::string& name) { return name + ".aex"; }

std::string installedPluginFolder()
{
    // Written by the installer (packaging/windows/zemo3.wxs), in the 64-bit view.
    DWORD bytes = 0;
    const wchar_t* key = L"SOFTWARE\\Zemo 3 Export";
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, L"PluginFolder", RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr,
                     nullptr, &bytes) != ERROR_SUCCESS ||
        bytes < sizeof(wchar_t))
        return {};
    std::wstring value(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, L"PluginFolder", RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr,
                     value.data(), &bytes) != ERROR_SUCCESS)
        return {};
    value.resize(wcsnlen(value.c_str(), value.size()));
    std::string folder = utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(value.data()), value.size()));
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder;
}

void* moduleSymbol(void* module, const char* name)
{
    return module ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name)) : nullptr;
}

void unloadModule(void* module)
{
    if (module)
        FreeLibrary(static_cast<HMODULE>(module));
}

std::string executablePath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size())
            return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer.data()), n));
        buffer.resize(buffer.size() * 2);
    }
}

// Every process's user and kernel time, against the time elapsed on every
// processor, in 100 ns units. Processes the system will not open are left out.
bool sampleProcessorTimes(uint64_t* busy, uint64_t* total)
{
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    for (;;) {
        if (!K32EnumProcesses(ids.data(), DWORD(ids.size() * sizeof(DWORD)), &bytes))
            return false;
        if (bytes < ids.size() * sizeof(DWORD))
            break;
        ids.resize(ids.size() * 2);
    }
    auto value = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    uint64_t used = 0;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ids[i]);
        if (!process)
            continue;
        FILETIME created, exited, kernel, user;
        if (GetProcessTimes(process, &created, &exited, &kernel, &user))
            used += value(kernel) + value(user);
        CloseHandle(process);
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    *busy = used;
    *total = value(now) * processorCount();
    return true;
}

// The host's scale is Windows' own: THREAD_PRIORITY_IDLE (-15) to
// THREAD_PRIORITY_TIME_CRITICAL (15).
bool setCurrentThreadPriority(int priority) { return SetThreadPriority(GetCurrentThread(), priority) != 0; }

struct Monitor::Native {
    CRITICAL_SECTION section;
    CONDITION_VARIABLE condition;
};

Monitor::Monitor() : native_(std::make_unique<Native>())
{
    InitializeCriticalSection(&native_->section);
    InitializeConditionVariable(&native_->condition);
}

Monitor::~Monitor() { DeleteCriticalSection(&native_->section); }
void Monitor::lock() { EnterCriticalSection(&native_->section); }
void Monitor::unlock() { LeaveCriticalSection(&native_->section); }
void Monitor::wakeAll() { WakeAllConditionVariable(&native_->condition); }

bool Monitor::wait(uint32_t milliseconds)
{
    return SleepConditionVariableCS(&native_->condition, &native_->section,
                                    milliseconds == kForever ? INFINITE : DWORD(milliseconds)) != 0 ||
           GetLastError() != ERROR_TIMEOUT;
}

namespace {

// A thread that misses its stop deadline is waited for, not terminated:
// TerminateThread would leave whatever locks it holds (the allocator's among
// them) taken for the rest of the process.
class ThreadPimplWindows : public ThreadPimpl {
public:
    ~ThreadPimplWindows() override { join(); }
    bool start(void (*body)(void*), void* argument, int priority) override
    {
        body_ = body;
        argument_ = argument;
        handle_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &ThreadPimplWindows::main, this, 0, nullptr));
        if (!handle_)
            return false;
        SetThreadPriority(handle_, priority);
        return true;
    }
    void join() override
    {
        if (!handle_)
            return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
        handle_ = nullptr;
    }
    bool joinable() const override { return handle_ != nullptr; }

private:
    static unsigned __stdcall main(void* self)
    {
        auto* t = static_cast<ThreadPimplWindows*>(self);
        t->body_(t->argument_);
        return 0;
    }
    HANDLE handle_ = nullptr;
    void (*body_)(void*) = nullptr;
    void* argument_ = nullptr;
};

}  // namespace

std::unique_ptr<ThreadPimpl> makeThreadPimpl() { return std::make_unique<ThreadPimplWindows>(); }

// ---------------------------------------------------------------- dialogs

// dialog.h gives the system's types and values without windows.h; they must be
// the system's own, or a dialog procedure, a module's DllMain and the system
// would disagree about what they are handed.
static_assert(std::is_same_v<UINT, ::UINT>);
static_assert(std::is_same_v<WPARAM, ::WPARAM>);
static_assert(std::is_same_v<LPARAM, ::LPARAM>);
static_assert(std::is_same_v<LRESULT, ::LRESULT>);
static_assert(std::is_same_v<INT_PTR, ::INT_PTR>);
static_assert(std::is_same_v<BOOL, ::BOOL>);
static_assert(std::is_same_v<HWND, ::HWND>);
static_assert(std::is_same_v<HINSTANCE, ::HINSTANCE>);
static_assert(std::is_same_v<HINSTANCE, ::HMODULE>);
static_assert(std::is_same_v<DLGPROC, ::DLGPROC>);
static_assert(std::is_same_v<DllEntry, ::BOOL(WINAPI*)(::HINSTANCE, ::DWORD, ::LPVOID)>);
static_assert(kDllProcessAttach == DLL_PROCESS_ATTACH);
static_assert(kWmSetText == WM_SETTEXT && kWmGetText == WM_GETTEXT && kWmClose == WM_CLOSE);
static_assert(kWmInitDialog == WM_INITDIALOG && kWmCommand == WM_COMMAND);
static_assert(kCbAddString == CB_ADDSTRING && kCbGetCount == CB_GETCOUNT && kCbGetCurSel == CB_GETCURSEL);
static_assert(kCbGetLbText == CB_GETLBTEXT && kCbSetCurSel == CB_SETCURSEL);
static_assert(kCbGetItemData == CB_GETITEMDATA && kCbSetItemData == CB_SETITEMDATA && kCbErr == CB_ERR);
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL && kCbnSelChange == CBN_SELCHANGE);
static_assert(kSsRight == SS_RIGHT && kBsDefPushButton == BS_DEFPUSHBUTTON);
static_assert(loWord(makeWParam(kIdOk, kCbnSelChange)) == LOWORD(MAKEWPARAM(IDOK, CBN_SELCHANGE)) &&
              makeWParam(kIdOk, kCbnSelChange) == MAKEWPARAM(IDOK, CBN_SELCHANGE));

HINSTANCE moduleOf(const void* addressInModule)
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(addressInModule), &module);
    return module;
}

void registerDialogTemplate(HINSTANCE, int, const DialogTemplate*) {}

HWND getForegroundWindow() { return GetForegroundWindow(); }

bool canShowDialogs() { return GetDesktopWindow() != nullptr; }

INT_PTR dialogBoxParam(HINSTANCE instance, int id, HWND parent, DLGPROC procedure, LPARAM initParam)
{
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(id), parent, procedure, initParam);
}

BOOL endDialog(HWND dialog, INT_PTR result) { return EndDialog(dialog, result); }
HWND getDlgItem(HWND dialog, int id) { return GetDlgItem(dialog, id); }
LRESULT sendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendMessageW(window, message, wParam, lParam);
}

// A dialog procedure's answer means "handled": what DefWindowProcW would
// return (a hit-test code, or the destruction of the modal dialog on
// WM_CLOSE) must not reach the dialog manager as one. FALSE lets the dialog
// manager do its default handling, which turns the close box into IDCANCEL.
LRESULT defWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

bool openInBrowser(const std::string& url)
{
    const HINSTANCE done = ShellExecuteW(nullptr, L"open", wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(done) > 32;  // larger than 32 means started
}

}  // namespace platform
