// The emulated host's private parts, shared by its three files:
//   host.cpp    loads the module and calls it in the host's order;
//   state.cpp   what the host keeps: injected faults, the suites a callback
//               holds, memory handles and output specifications;
//   suites.cpp  the suites served to the module through its basic suite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "emulated_host/host.h"

namespace emulated_host {

// A memory handle is the address of its record.
struct Host::MemRecord {
    HandleInfo info;
    std::unique_ptr<uint8_t[]> data;
};

// An output specification is the address of its record.
struct Host::Output {
    OutputSettings settings;
    AEGP_MemHandle options = nullptr;
};

// A member's name as a template argument: readSetting<"AEGP_GetOutSpecFPS", ...>.
template <size_t N>
struct MemberName {
    char text[N];
    constexpr MemberName(const char (&name)[N])
    {
        for (size_t i = 0; i < N; ++i)
            text[i] = name[i];
    }
};

// The suites, served as plain functions (suites.cpp): they reach the
// process's one Host through `current`, set while a Host exists.
struct Host::Served {
    static Host* current;

    // The basic suite: suites by name and version, counted per suite.
    static A_Err acquireSuite(const char* name, A_long version, const void** suite);
    static A_Err releaseSuite(const char* name, A_long version);

private:
    static const void* lookup(const std::string& name, A_long version);

    // "AEGP Register Suite" 6
    static A_Err registerDeathHook(AEGP_PluginID, AEGP_DeathHook hook, AEGP_DeathRefcon refcon);
    // The log suite's member: kept apart from the member calls, as the
    // module's workers log from their own threads.
    static void logLine(const A_char* line);
    static void writeFailed(const A_char* reason);
    static A_Err registerIO(AEGP_PluginID, AEGP_IORefcon, const AEIO_ModuleInfo* info,
                            const AEIO_FunctionBlock4* functions);
    // "AEGP Utility Suite" 7 and 3
    static A_Err registerWithAEGP(AEGP_GlobalRefcon, const A_char* name, AEGP_PluginID* id);
    static A_Err getMainHWND(void* mainHWND);
    // "PF ANSI Suite" 1
    static A_char* ansiStrcpy(A_char* dst, const A_char* src);
    // "AEGP IO Out Suite" 7; the plain settings are served by readSetting.
    static A_Err getOptionsHandle(AEIO_OutSpecH out, void** options);
    static A_Err setOptionsHandle(AEIO_OutSpecH out, void* options, void** old);
    static A_Err getFilePath(AEIO_OutSpecH out, AEGP_MemHandle* path, A_Boolean* reserved);
    static A_Err getDimensions(AEIO_OutSpecH out, A_long* width, A_long* height);
    template <MemberName Member, auto Field, typename T>
    static A_Err readSetting(AEIO_OutSpecH out, T* value);
    // "AEGP Memory Suite" 1
    static A_Err newMemHandle(AEGP_PluginID owner, const A_char* what, AEGP_MemSize size, AEGP_MemFlag flags,
                              AEGP_MemHandle* handle);
    static A_Err freeMemHandle(AEGP_MemHandle handle);
    static A_Err lockMemHandle(AEGP_MemHandle handle, void** ptr);
    static A_Err unlockMemHandle(AEGP_MemHandle handle);

    // The shape of every member (suites.cpp).
    template <typename Work, typename... Ptr>
    static A_Err member(const char* name, Work&& work, Ptr*... required);
    template <typename Work, typename... Ptr>
    static A_Err onOutput(const char* name, AEIO_OutSpecH spec, Work&& work, Ptr*... required);
    template <typename Work, typename... Ptr>
    static A_Err onHandle(const char* name, const char* action, AEGP_MemHandle handle, Work&& work, Ptr*... required);
};

}  // namespace emulated_host
