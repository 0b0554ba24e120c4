// The emulated host: loads an output module the way the compositing
// application does and drives its callbacks, so that the module can be run
// and tested on a machine without the application.
//
//   emulated_host::Host host;
//   if (!host.load(emulated_host::defaultModulePath(), &error)) ...
//   A_Err err = host.callEntry();                 // registration
//   AEIO_OutSpecH out = host.addOutput({});       // an output module
//   host.initOutputSpec(out, &interacted);        // its options record
//   host.getDepths(out, &depth);
//   host.unload();                                // death hook, leak check
//   for (auto& e : host.errors()) ...             // host-side errors seen
//
// The host serves the suites the module uses through its basic suite, keeps
// memory handles (owner, label, size, clear flag, lock count) and output
// specifications, and reports misuse (freeing a locked or unknown handle,
// unbalanced locks, suites not released after a callback, handles leaked at
// unload) as host-side errors. Any suite can be withheld and any member made
// to fail, so that every error path of the module can be reached.
//
// One Host may exist at a time per process: the suites it hands out are
// plain functions that reach it through a process-wide pointer.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host_api/host_api.h"
#include "module/options.h"
#include "platform/dialog.h"

namespace emulated_host {

// Where the module is found: $ZEMO_MODULE, else the file next to the running
// program, else the plug-in folder the Windows installer recorded, else
// lib/zemo3/ of an installed tree, else the module built with this tree
// (in a package, which has no build tree: lib/zemo3/ all the same).
std::string defaultModulePath();

// The output settings of one render-queue item's output module.
struct OutputSettings {
    A_long width = 1920;
    A_long height = 1080;
    A_Fixed fps = 25 << 16;        // 16.16
    A_FpLong soundRate = 48000.0;  // 0 without sound
    A_short channels = 2;
    A_short sampleSize = 2;  // bytes per sample
    std::u16string path = u"out.mov";
    AEIO_AlphaLabel alpha{1, 0, 0, 0, 0, 3};
    bool missing = false;
};

// What the host knows about one memory handle.
struct HandleInfo {
    AEGP_PluginID owner;
    std::string label;
    uint64_t size;
    AEGP_MemFlag flags;
    int locks;
};

// How a withheld suite is refused: an error code, or success with a null suite.
enum class Withhold { Error, NullSuite };

// What the host showed for one output module (see Host::runOptions).
struct OptionsReport {
    std::string formatName;  // the module's registered name
    AEIO_Verbiage verbiage{};
    AEIO_SupportedDepthFlags depth = 0;
    bool interacted = false;
    std::vector<uint8_t> flattened;  // the record as a project stores it
};

class Host {
public:
    Host();
    // Unloads the module when it is still loaded.
    ~Host();

    // ---- Module ----------------------------------------------------------
    // dlopen (RTLD_NOW | RTLD_LOCAL) and look up EntryPointFunc.
    bool load(const std::string& path, std::string* error = nullptr);
    // Calls the entry with this host's basic suite and plug-in ID.
    A_Err callEntry(A_long majorVersion = 115, A_long minorVersion = 0);
    // Closes the project (disposes every output's options), runs the death
    // hook, reports the module's handles that are still alive and closes the
    // module. Faults set for tests are cleared first.
    void unload();
    std::optional<A_Err> deathHookResult() const { return deathHookResult_; }

    // ---- Registration as received ----------------------------------------
    bool ioRegistered() const { return ioRegistered_; }
    const AEIO_ModuleInfo& moduleInfo() const { return moduleInfo_; }
    const AEIO_FunctionBlock4& functions() const { return functions_; }
    bool deathHookRegistered() const { return deathHook_ != nullptr; }
    const std::string& pluginName() const { return pluginName_; }
    // The ID handed out by AEGP_RegisterWithAEGP (0 before).
    AEGP_PluginID pluginId() const { return pluginId_; }
    // Member calls in order, by member name ("AEGP_RegisterIO", ...).
    const std::vector<std::string>& calls() const { return calls_; }
    void clearCalls()
    {
        calls_.clear();
        allocations_.clear();
    }

    // ---- Faults ----------------------------------------------------------
    void withholdSuite(const std::string& name, A_long version, Withhold how = Withhold::Error);
    // Every call of the member answers err without doing anything; with
    // `after`, the first `after` calls from now on succeed and the rest fail.
    void failMember(const std::string& member, A_Err err, int after = 0);
    void clearFaults();
    // Recovery after an injected failure of the module's unlock or free call,
    // which leaves a handle locked or alive through no fault of the module:
    // clears every lock, and frees the module's handles with the label that
    // no output holds.
    void clearLocks();
    size_t freeHandles(const std::string& label);
    // The module's handles with the label that no output holds.
    std::vector<AEGP_MemHandle> orphanedHandles(const std::string& label) const;

    // ---- The module's log lines (through the log suite) --------------------
    std::vector<std::string> moduleLog() const
    {
        std::lock_guard<std::mutex> guard(moduleLogLock_);
        return moduleLog_;
    }
    void clearModuleLog()
    {
        std::lock_guard<std::mutex> guard(moduleLogLock_);
        moduleLog_.clear();
    }
    // Why the module's movie file took no more (through the result suite):
    // the first reason the module reported since the last call, "" when none.
    std::string takeWriteFailure()
    {
        std::lock_guard<std::mutex> guard(moduleLogLock_);
        return std::exchange(writeFailure_, std::string());
    }

    // ---- Host-side errors ------------------------------------------------
    const std::vector<std::string>& errors() const { return errors_; }
    void clearErrors() { errors_.clear(); }

    // ---- Memory ----------------------------------------------------------
    size_t liveHandles() const { return handles_.size(); }
    std::optional<HandleInfo> handleInfo(AEGP_MemHandle handle) const;
    std::vector<HandleInfo> allHandles() const;
    // Every handle allocated so far, in order (cleared with clearCalls).
    const std::vector<HandleInfo>& allocations() const { return allocations_; }
    // Overwrites bytes of a handle, as a debugger would; false when the
    // handle is unknown or the range does not fit.
    bool patchHandle(AEGP_MemHandle handle, size_t offset, const void* bytes, size_t size);

    // ---- Outputs ---------------------------------------------------------
    // A new output module. `stored` is an options record as a project or
    // template keeps it; the host puts it back in a handle of its own, which
    // the module's InitOutputSpec then replaces.
    AEIO_OutSpecH addOutput(const OutputSettings& settings, const std::vector<uint8_t>* stored = nullptr);
    OutputSettings& settings(AEIO_OutSpecH out);
    AEGP_MemHandle optionsHandle(AEIO_OutSpecH out) const;
    // The output's options record as the host sees it (nullopt without one).
    std::optional<zexport::StoredOptions> options(AEIO_OutSpecH out) const;
    // Disposes the output's options through the module and forgets the output.
    A_Err removeOutput(AEIO_OutSpecH out);
    // Closes the project: removes every output as above.
    void closeProject();

    // The window the host offers as its main window (AEGP_GetMainHWND); by
    // default the terminal on standard input and output.
    void setMainWindow(platform::HWND window) { mainWindow_ = window; }

    // ---- Callbacks, one at a time ----------------------------------------
    // Each checks afterwards that every suite the module acquired was released.
    A_Err initOutputSpec(AEIO_OutSpecH out, bool* interacted = nullptr);
    A_Err userOptionsDialog(AEIO_OutSpecH out, bool* interacted = nullptr);
    A_Err getDepths(AEIO_OutSpecH out, AEIO_SupportedDepthFlags* depth);
    A_Err getOutputInfo(AEIO_OutSpecH out, AEIO_Verbiage* verbiage);
    A_Err outputInfoChanged(AEIO_OutSpecH out);
    // The host copies the flattened record into `flat` and frees the handle.
    A_Err getFlatOutputOptions(AEIO_OutSpecH out, std::vector<uint8_t>* flat);
    // Disposes the output's options handle and clears it from the output.
    A_Err disposeOutputOptions(AEIO_OutSpecH out);
    AEIO_BasicData* basicData() { return &basic_; }

    // ---- Export job, as the render drives it ------------------------------
    A_Err startAdding(AEIO_OutSpecH out);
    // frameIndex is the host's own numbering; the module may ignore it.
    A_Err addFrame(AEIO_OutSpecH out, A_long frameIndex, const PF_EffectWorld& world);
    A_Err addSoundChunk(AEIO_OutSpecH out, A_u_long samples, const void* data);
    A_Err endAdding(AEIO_OutSpecH out);

    // ---- The host's sequences --------------------------------------------
    // What the host does when an output module is set up and its format
    // options are looked at: InitOutputSpec, UserOptionsDialog (when asked),
    // GetDepths, GetOutputInfo, OutputInfoChanged, GetFlatOutputOptions and,
    // when the item is removed, DisposeOutputOptions. Stops at the first
    // error, which it returns.
    A_Err runOptions(const OutputSettings& settings, const std::vector<uint8_t>* stored, bool showDialog,
                     OptionsReport* report);

    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Implementation details (src/host_internal.h): the suites served to
    // the module through the basic suite, an output, a memory handle.
    struct Served;
    struct Output;
    struct MemRecord;

private:
    friend struct Served;

    // Records a member's call and answers its injected fault (0: none).
    A_Err fault(const char* member);
    // Calls a callback of the module's function block (1 when the slot is
    // empty) and reports the suites it left acquired.
    template <typename Slot, typename... Args>
    A_Err callModule(const char* name, Slot slot, Args... args);
    void checkSuitesReleased(const char* callback);
    MemRecord* findHandle(AEGP_MemHandle handle) const;
    AEGP_MemHandle newHandle(AEGP_PluginID owner, const std::string& label, uint64_t size, AEGP_MemFlag flags);
    Output* findOutput(AEIO_OutSpecH out) const;

    void* library_ = nullptr;
    AEGP_PluginInitFuncPrototype entry_ = nullptr;
    SPBasicSuite basicSuite_{};
    AEIO_BasicData basic_{};

    bool ioRegistered_ = false;
    AEIO_ModuleInfo moduleInfo_{};
    AEIO_FunctionBlock4 functions_{};
    AEGP_DeathHook deathHook_ = nullptr;
    AEGP_DeathRefcon deathRefcon_ = nullptr;
    std::optional<A_Err> deathHookResult_;
    std::string pluginName_;
    AEGP_PluginID pluginId_ = 0;
    AEGP_PluginID nextPluginId_ = 7;
    static constexpr AEGP_PluginID kEntryPluginId = 3;  // given to the entry

    std::vector<std::string> calls_;
    std::vector<HandleInfo> allocations_;
    std::map<std::pair<std::string, A_long>, Withhold> withheld_;
    struct Failing {
        A_Err err;
        int after;  // calls still to succeed
    };
    std::map<std::string, Failing> failing_;
    std::map<std::pair<std::string, A_long>, int> acquired_;  // balance per suite
    std::vector<std::string> errors_;
    mutable std::mutex moduleLogLock_;
    std::vector<std::string> moduleLog_;
    std::string writeFailure_;

    std::map<MemRecord*, std::unique_ptr<MemRecord>> handles_;
    std::vector<std::unique_ptr<Output>> outputs_;
    platform::HWND mainWindow_ = nullptr;
};

}  // namespace emulated_host
