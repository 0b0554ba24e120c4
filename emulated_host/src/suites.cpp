// The suites the emulated host serves to the module, as plain functions
// behind its basic suite. What every member does first (record the call for
// calls(), answer a fault set with failMember, find the output or handle it
// names, check its pointers) is written once, in member(), onOutput() and
// onHandle(); each member then holds only its own work.
#include <cstring>
#include <type_traits>
#include <utility>

#include "host_internal.h"

namespace emulated_host {

Host* Host::Served::current = nullptr;

namespace {

template <typename... Ptr>
bool given(Ptr*... pointers)
{
    return ((pointers != nullptr) && ...);
}

// Runs a member's own work; work without a result of its own succeeds.
template <typename Work, typename... Args>
A_Err run(Work& work, Args&... args)
{
    if constexpr (std::is_void_v<std::invoke_result_t<Work&, Args&...>>) {
        work(args...);
        return A_Err_NONE;
    } else {
        return work(args...);
    }
}

}  // namespace

// ---- The shape of every member ---------------------------------------------
// Record the call, answer an injected fault, refuse a null among `required`
// (the pointers the member reads or writes) with A_Err_PARAMETER, then run
// the member's work.

template <typename Work, typename... Ptr>
A_Err Host::Served::member(const char* name, Work&& work, Ptr*... required)
{
    if (A_Err e = current->fault(name))
        return e;
    if (!given(required...))
        return A_Err_PARAMETER;
    return run(work);
}

// A member of the IO Out suite: the output specification must be known too;
// the work gets its output.
template <typename Work, typename... Ptr>
A_Err Host::Served::onOutput(const char* name, AEIO_OutSpecH spec, Work&& work, Ptr*... required)
{
    if (A_Err e = current->fault(name))
        return e;
    Output* o = current->findOutput(spec);
    if (!o)
        current->errors_.push_back("unknown output specification");
    if (!o || !given(required...))
        return A_Err_PARAMETER;
    return run(work, *o);
}

// A member of the Memory suite on a handle: the handle must be known too
// (otherwise the misuse is reported as "<action> of an unknown handle"); the
// work gets its record.
template <typename Work, typename... Ptr>
A_Err Host::Served::onHandle(const char* name, const char* action, AEGP_MemHandle handle, Work&& work, Ptr*... required)
{
    if (A_Err e = current->fault(name))
        return e;
    MemRecord* r = current->findHandle(handle);
    if (!r) {
        current->errors_.push_back(std::string(action) + " of an unknown handle");
        return A_Err_PARAMETER;
    }
    if (!given(required...))
        return A_Err_PARAMETER;
    return run(work, *r);
}

// ---- Basic suite ------------------------------------------------------------

A_Err Host::Served::acquireSuite(const char* name, A_long version, const void** suite)
{
    Host& h = *current;
    if (suite)
        *suite = nullptr;
    if (!name || !suite)
        return A_Err_PARAMETER;
    auto key = std::make_pair(std::string(name), version);
    if (auto w = h.withheld_.find(key); w != h.withheld_.end()) {
        if (w->second == Withhold::Error)
            return A_Err_MISSING_SUITE;
        ++h.acquired_[key];
        return A_Err_NONE;  // success with a null suite
    }
    const void* s = lookup(key.first, version);
    if (!s)
        return A_Err_MISSING_SUITE;
    *suite = s;
    ++h.acquired_[key];
    return A_Err_NONE;
}

A_Err Host::Served::releaseSuite(const char* name, A_long version)
{
    Host& h = *current;
    auto key = std::make_pair(std::string(name ? name : ""), version);
    auto it = h.acquired_.find(key);
    if (it == h.acquired_.end() || it->second == 0) {
        h.errors_.push_back("release of suite \"" + key.first + "\" " + std::to_string(version) +
                            " that was not acquired");
        return A_Err_PARAMETER;
    }
    --it->second;
    return A_Err_NONE;
}

const void* Host::Served::lookup(const std::string& name, A_long version)
{
    static const AEGP_RegisterSuite6 registerSuite{registerDeathHook, registerIO};
    static const AEGP_UtilitySuite7 utility7{registerWithAEGP};
    static const AEGP_UtilitySuite3 utility3{getMainHWND};
    static const PF_ANSICallbacksSuite1 ansi{ansiStrcpy};
    static const AEGP_IOOutSuite7 ioOut{
        getOptionsHandle,
        setOptionsHandle,
        getFilePath,
        readSetting<"AEGP_GetOutSpecFPS", &OutputSettings::fps>,
        getDimensions,
        readSetting<"AEGP_GetOutSpecSoundRate", &OutputSettings::soundRate>,
        readSetting<"AEGP_GetOutSpecSoundChannels", &OutputSettings::channels>,
        readSetting<"AEGP_GetOutSpecSoundSampleSize", &OutputSettings::sampleSize>,
        readSetting<"AEGP_GetOutSpecAlphaLabel", &OutputSettings::alpha>,
        readSetting<"AEGP_GetOutSpecIsMissing", &OutputSettings::missing>,
    };
    static const AEGP_MemorySuite1 memory{newMemHandle, freeMemHandle, lockMemHandle, unlockMemHandle};
    static const Zemo_LogSuite1 log{logLine};
    static const Zemo_ResultSuite1 result{writeFailed};
    static const struct {
        const char* name;
        A_long version;
        const void* suite;
    } offered[] = {
        {kAEGPRegisterSuite, kAEGPRegisterSuiteVersion6, &registerSuite},
        {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7, &utility7},
        {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3, &utility3},
        {kPFANSISuite, kPFANSISuiteVersion1, &ansi},
        {kAEGPIOOutSuite, kAEGPIOOutSuiteVersion7, &ioOut},
        {kAEGPMemorySuite, kAEGPMemorySuiteVersion1, &memory},
        {kZemoLogSuite, kZemoLogSuiteVersion1, &log},
        {kZemoResultSuite, kZemoResultSuiteVersion1, &result},
    };
    for (const auto& o : offered)
        if (name == o.name && version == o.version)
            return o.suite;
    return nullptr;
}

void Host::Served::logLine(const A_char* line)
{
    if (!line || !current)
        return;
    std::lock_guard<std::mutex> guard(current->moduleLogLock_);
    current->moduleLog_.emplace_back(line);
}

void Host::Served::writeFailed(const A_char* reason)
{
    if (!reason || !current)
        return;
    std::lock_guard<std::mutex> guard(current->moduleLogLock_);
    if (current->writeFailure_.empty())
        current->writeFailure_ = reason;
}

// ---- Register suite ---------------------------------------------------------

A_Err Host::Served::registerDeathHook(AEGP_PluginID, AEGP_DeathHook hook, AEGP_DeathRefcon refcon)
{
    return member("AEGP_RegisterDeathHook", [&] {
        current->deathHook_ = hook;
        current->deathRefcon_ = refcon;
    });
}

A_Err Host::Served::registerIO(AEGP_PluginID, AEGP_IORefcon, const AEIO_ModuleInfo* info,
                               const AEIO_FunctionBlock4* functions)
{
    auto keep = [&] {
        // The host keeps copies; the module's records may change afterwards.
        current->moduleInfo_ = *info;
        current->functions_ = *functions;
        current->ioRegistered_ = true;
    };
    return member("AEGP_RegisterIO", keep, info, functions);
}

// ---- Utility suites ---------------------------------------------------------

A_Err Host::Served::registerWithAEGP(AEGP_GlobalRefcon, const A_char* name, AEGP_PluginID* id)
{
    auto keep = [&] {
        current->pluginName_ = name;
        current->pluginId_ = current->nextPluginId_++;
        *id = current->pluginId_;
    };
    return member("AEGP_RegisterWithAEGP", keep, name, id);
}

A_Err Host::Served::getMainHWND(void* mainHWND)
{
    // Without a main window of its own the host offers none; dialogs then
    // come up on the controlling terminal (on Windows, over the desktop).
    auto give = [&] { *static_cast<AEGP_HWND*>(mainHWND) = current->mainWindow_; };
    return member("AEGP_GetMainHWND", give, mainHWND);
}

// ---- ANSI suite: nothing to answer a fault with -----------------------------

A_char* Host::Served::ansiStrcpy(A_char* dst, const A_char* src)
{
    current->calls_.push_back("strcpy");
    return std::strcpy(dst, src);
}

// ---- IO Out suite -----------------------------------------------------------

// The members that hand out one of the output's settings as it is.
template <MemberName Member, auto Field, typename T>
A_Err Host::Served::readSetting(AEIO_OutSpecH out, T* value)
{
    return onOutput(
        Member.text, out, [&](Output& o) { *value = o.settings.*Field; }, value);
}

A_Err Host::Served::getOptionsHandle(AEIO_OutSpecH out, void** options)
{
    return onOutput(
        "AEGP_GetOutSpecOptionsHandle", out, [&](Output& o) { *options = o.options; }, options);
}

A_Err Host::Served::setOptionsHandle(AEIO_OutSpecH out, void* options, void** old)
{
    auto install = [&](Output& o) -> A_Err {
        if (options && !current->findHandle(static_cast<AEGP_MemHandle>(options))) {
            current->errors_.push_back("options handle set that the host does not know");
            return A_Err_PARAMETER;
        }
        if (old)
            *old = o.options;
        o.options = static_cast<AEGP_MemHandle>(options);
        return A_Err_NONE;
    };
    return onOutput("AEGP_SetOutSpecOptionsHandle", out, install);
}

A_Err Host::Served::getFilePath(AEIO_OutSpecH out, AEGP_MemHandle* path, A_Boolean* reserved)
{
    auto newPathHandle = [&](Output& o) {
        if (reserved)
            *reserved = 0;
        // The module owns the path handle and frees it.
        const std::u16string& p = o.settings.path;
        const uint64_t bytes = (p.size() + 1) * sizeof(char16_t);
        *path = current->newHandle(current->pluginId_, "output path", bytes, AEGP_MemFlag_CLEAR);
        std::memcpy(current->findHandle(*path)->data.get(), p.c_str(), bytes);
    };
    return onOutput("AEGP_GetOutSpecFilePath", out, newPathHandle, path);
}

A_Err Host::Served::getDimensions(AEIO_OutSpecH out, A_long* width, A_long* height)
{
    auto size = [&](Output& o) {
        *width = o.settings.width;
        *height = o.settings.height;
    };
    return onOutput("AEGP_GetOutSpecDimensions", out, size, width, height);
}

// ---- Memory suite -----------------------------------------------------------

A_Err Host::Served::newMemHandle(AEGP_PluginID owner, const A_char* what, AEGP_MemSize size, AEGP_MemFlag flags,
                                 AEGP_MemHandle* handle)
{
    auto allocate = [&] {
        const std::string label = what ? what : "";
        if (owner != current->pluginId_ || owner == 0)
            current->errors_.push_back("handle \"" + label + "\" allocated for an unregistered plug-in ID " +
                                       std::to_string(owner));
        *handle = current->newHandle(owner, label, size, flags);
    };
    return member("AEGP_NewMemHandle", allocate, handle);
}

A_Err Host::Served::freeMemHandle(AEGP_MemHandle handle)
{
    auto release = [&](MemRecord& r) -> A_Err {
        if (r.info.locks > 0) {
            current->errors_.push_back("free of locked handle \"" + r.info.label + "\"");
            return A_Err_PARAMETER;
        }
        for (auto& o : current->outputs_)
            if (o->options == handle)
                o->options = nullptr;  // the output no longer has options
        current->handles_.erase(&r);
        return A_Err_NONE;
    };
    return onHandle("AEGP_FreeMemHandle", "free", handle, release);
}

A_Err Host::Served::lockMemHandle(AEGP_MemHandle handle, void** ptr)
{
    auto lock = [&](MemRecord& r) {
        ++r.info.locks;
        *ptr = r.data.get();
    };
    return onHandle("AEGP_LockMemHandle", "lock", handle, lock, ptr);
}

A_Err Host::Served::unlockMemHandle(AEGP_MemHandle handle)
{
    auto unlock = [&](MemRecord& r) -> A_Err {
        if (r.info.locks == 0) {
            current->errors_.push_back("unlock of handle \"" + r.info.label + "\" that is not locked");
            return A_Err_PARAMETER;
        }
        --r.info.locks;
        return A_Err_NONE;
    };
    return onHandle("AEGP_UnlockMemHandle", "unlock", handle, unlock);
}

}  // namespace emulated_host
