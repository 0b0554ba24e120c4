// The module's entry: registration with the host, the death hook and the
// stubs of the slots the host handles itself.
#include <cstring>
#include <type_traits>

#include "core/context.h"
#include "core/logger.h"
#include "module.h"
#include "platform/platform.h"
#include "resources/resources.h"
#include "suites.h"
#include "writer/formats.h"

namespace zexport {

AEGP_PluginID g_pluginId = 0;
platform::HINSTANCE g_moduleInstance = nullptr;

namespace {

#ifndef _WIN32
// The load hook: runs when the module is mapped into the process, before the
// host calls anything. It keeps the module instance, under which the dialog
// template is found (on Windows, DllMain below).
__attribute__((constructor)) void processAttach()
{
    g_moduleInstance = platform::moduleOf(reinterpret_cast<const void*>(&processAttach));
    platform::registerDialogTemplate(g_moduleInstance, resources::kOptionsDialogId,
                                     &resources::optionsDialogTemplate());
}
#endif

// One stub per slot signature: the host does the work itself (9992), or
// there is nothing to do (0). Arguments are never looked at.
template <typename F>
struct Stub;
template <typename... Args>
struct Stub<A_Err (*)(Args...)> {
    static A_Err useDefault(Args...) { return AEIO_Err_USE_DFLT_CALLBACK; }
    static A_Err nothing(Args...) { return A_Err_NONE; }
};
#define ZEXPORT_DEFAULT_STUB(block, slot) block.slot = Stub<decltype(block.slot)>::useDefault
#define ZEXPORT_NOOP_STUB(block, slot) block.slot = Stub<decltype(block.slot)>::nothing

A_Err deathHook(AEGP_GlobalRefcon, AEGP_DeathRefcon) noexcept
{
    return guarded([]() -> A_Err {
        // The context object stays: its system monitor thread runs until the
        // process ends, which is why the module is never unmapped.
        if (nox::Noxcore* context = nox::currentContext()) {
            nox::shutdown(context);
            nox::destroyManagers(context);
        }
        // The host's sink may go with the host.
        nox::setLogSink(nullptr);
        return A_Err_NONE;
    });
}

// The host may keep pointers to what it is given, so both records live as
// long as the module.
AEIO_ModuleInfo g_moduleInfo;
AEIO_FunctionBlock4 g_functions;

void fillModuleInfo(AEIO_ModuleInfo& info, const PF_ANSICallbacksSuite1& ansi)
{
    info.sig = kModuleSignature;
    ansi.strcpy(info.name, kPluginName);
    info.flags = AEIO_MFlag_OUTPUT | AEIO_MFlag_FILE | AEIO_MFlag_VIDEO | AEIO_MFlag_AUDIO | AEIO_MFlag_ANY_ALPHA |
                 AEIO_MFlag_HAS_OPTIONS;
    static_assert((AEIO_MFlag_OUTPUT | AEIO_MFlag_FILE | AEIO_MFlag_VIDEO | AEIO_MFlag_AUDIO | AEIO_MFlag_ANY_ALPHA |
                   AEIO_MFlag_HAS_OPTIONS) == kModuleFlags);
    info.flags2 = 0;
    info.max_width = 0x7FFFFFFF;
    info.max_height = 0x7FFFFFFF;
    info.num_filetypes = 1;
    info.num_extensions = 1;
    info.num_clips = 0;
    info.create_kind.mac.type = kModuleSignature;
    info.create_kind.mac.creator = 0x20202020;  // four blanks
    std::memcpy(info.create_ext.ext.extension, ".mov", 4);
    info.read_kinds[0].mac.type = kModuleSignature;
    info.read_kinds[0].mac.creator = 0xFFFFFFFF;  // any creator
    std::memcpy(info.read_kinds[1].ext.extension, ".mov", 4);
    info.num_aux_extensionsS = 0;
}

void fillFunctionBlock(AEIO_FunctionBlock4& f)
{
    f.AEIO_InitOutputSpec = initOutputSpec;
    f.AEIO_GetFlatOutputOptions = getFlatOutputOptions;
    f.AEIO_DisposeOutputOptions = disposeOutputOptions;
    f.AEIO_UserOptionsDialog = userOptionsDialog;
    f.AEIO_GetOutputInfo = getOutputInfo;
    f.AEIO_OutputInfoChanged = outputInfoChanged;
    ZEXPORT_DEFAULT_STUB(f, AEIO_SetOutputFile);
    f.AEIO_StartAdding = startAdding;
    f.AEIO_AddFrame = addFrame;
    f.AEIO_EndAdding = endAdding;
    ZEXPORT_DEFAULT_STUB(f, AEIO_WriteLabels);
    ZEXPORT_DEFAULT_STUB(f, AEIO_GetSizes);
    ZEXPORT_NOOP_STUB(f, AEIO_Flush);
    f.AEIO_AddSoundChunk = addSoundChunk;
    ZEXPORT_NOOP_STUB(f, AEIO_Idle);
    f.AEIO_GetDepths = getDepths;
    ZEXPORT_DEFAULT_STUB(f, AEIO_GetOutputSuffix);
    ZEXPORT_NOOP_STUB(f, AEIO_SetUserData);
    ZEXPORT_NOOP_STUB(f, AEIO_AddMarker);
}

}  // namespace

}  // namespace zexport

#ifdef _WIN32
// The process-attach notification keeps the module instance, from which the
// dialog resource is loaded; other notifications leave it alone. The module
// is pinned: the core context's system monitor runs until the process ends,
// so the code must stay mapped after the host lets go of the module. Its
// types are platform's, which are the system's (platform/dialog.h).
extern "C" platform::BOOL DllMain(platform::HINSTANCE instance, unsigned long reason, void*)
{
    if (reason == platform::kDllProcessAttach) {
        zexport::g_moduleInstance = instance;
        platform::pinModule(reinterpret_cast<const void*>(&DllMain));
    }
    return 1;
}
static_assert(std::is_same_v<decltype(&DllMain), platform::DllEntry>);
#define ZEXPORT_ENTRY __declspec(dllexport)
#else
#define ZEXPORT_ENTRY __attribute__((visibility("default")))
#endif

extern "C" ZEXPORT_ENTRY A_Err EntryPointFunc(SPBasicSuite* pica_basicP, A_long major_versionL,
                                              A_long /*minor_versionL*/, AEGP_PluginID aegp_plugin_id,
                                              AEGP_GlobalRefcon* /*global_refconP*/)
{
    using namespace zexport;
    if (major_versionL < kMinimumHostMajorVersion)
        return A_Err_GENERIC;
    return guarded([&]() -> A_Err {
        SuiteCache suites(pica_basicP);
        std::memset(&g_moduleInfo, 0, sizeof g_moduleInfo);
        std::memset(&g_functions, 0, sizeof g_functions);

        A_Err err = suites.registerSuite().AEGP_RegisterDeathHook(aegp_plugin_id, deathHook, nullptr);
        if (err != A_Err_NONE)
            return err;
        fillModuleInfo(g_moduleInfo, suites.ansi());
        fillFunctionBlock(g_functions);
        err = suites.registerSuite().AEGP_RegisterIO(aegp_plugin_id, nullptr, &g_moduleInfo, &g_functions);
        if (err != A_Err_NONE)
            return err;
        err = suites.utility7().AEGP_RegisterWithAEGP(nullptr, kPluginName, &g_pluginId);
        if (err != A_Err_NONE)
            return err;

        // The bring-up reports no failure; a manager that cannot be built
        // throws, which guarded() turns into an error for the host.
        // The format registry lives above the core; the bring-up makes it
        // through the factory installed here.
        // A host that serves the log suite hears the module's lines, from the
        // bring-up's on; the compositing application serves none, and then
        // the lines go nowhere.
        const Zemo_LogSuite1* log = suites.log();
        nox::setLogSink(log ? log->Zemo_LogLine : nullptr);
        nox::useVideoFormats();
        nox::Noxcore* context = nox::createContext(kCoreFeatureMask);
        nox::bringUp(context);
        return A_Err_NONE;
    });
}
