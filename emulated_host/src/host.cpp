// The host that loads the module and drives it: finding and loading the
// module, its entry, each callback of its function block (checked afterwards
// for suites it did not release), the host's sequences (options, closing the
// project, unloading).
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "host_internal.h"
#include "platform/platform.h"

namespace emulated_host {

namespace {

std::string moduleFileName() { return platform::pluginModuleFile("Zemo3AfterEffectsExport"); }

}  // namespace

std::string defaultModulePath()
{
    if (const std::optional<std::string> env = platform::environmentValue("ZEMO_MODULE"); env && !env->empty())
        return *env;
    std::string dir = platform::executablePath();
    const size_t slash = dir.find_last_of("/\\");
    if (slash != std::string::npos) {
        dir.erase(slash + 1);
        if (std::string beside = dir + moduleFileName(); platform::canRead(beside))
            return beside;
        // Installed on Windows: wherever the installer put the plug-in.
        if (std::string installed = platform::installedPluginFolder() + moduleFileName();
            installed != moduleFileName() && platform::canRead(installed))
            return installed;
        // An installed tree: bin/zemo3 and lib/zemo3/<module>.
        if (std::string installed = dir + "../lib/zemo3/" + moduleFileName(); platform::canRead(installed))
            return installed;
    }
    // The module of the tree this was built in; in a package, where it installs.
    if (*ZEMO_BUILT_MODULE_PATH || slash == std::string::npos)
        return ZEMO_BUILT_MODULE_PATH;
    return dir + "../lib/zemo3/" + moduleFileName();
}

// ---- The module --------------------------------------------------------------

Host::Host()
{
    if (Served::current)
        throw std::logic_error("only one emulated host at a time");
    Served::current = this;
    basicSuite_.AcquireSuite = Served::acquireSuite;
    basicSuite_.ReleaseSuite = Served::releaseSuite;
    basic_.pica_basicP = &basicSuite_;
    basic_.aegp_plug_id = kEntryPluginId;
}

Host::~Host()
{
    if (library_)
        unload();
    Served::current = nullptr;
}

bool Host::load(const std::string& path, std::string* error)
{
    if (library_) {
        if (error)
            *error = "a module is loaded already";
        return false;
    }
    std::string why;
    library_ = platform::loadModule(path, &why);
    if (!library_) {
        if (error)
            *error = why;
        return false;
    }
    entry_ = reinterpret_cast<AEGP_PluginInitFuncPrototype>(platform::moduleSymbol(library_, kEntryPointName));
    if (!entry_) {
        if (error)
            *error = path + " has no " kEntryPointName;
        platform::unloadModule(library_);
        library_ = nullptr;
        return false;
    }
    return true;
}

A_Err Host::callEntry(A_long majorVersion, A_long minorVersion)
{
    if (!entry_)
        return A_Err_GENERIC;
    AEGP_GlobalRefcon refcon = nullptr;
    A_Err err = entry_(&basicSuite_, majorVersion, minorVersion, kEntryPluginId, &refcon);
    checkSuitesReleased("EntryPointFunc");
    return err;
}

void Host::unload()
{
    clearFaults();
    closeProject();
    if (deathHook_) {
        deathHookResult_ = deathHook_(nullptr, deathRefcon_);
        deathHook_ = nullptr;
    }
    for (const auto& [key, record] : handles_)
        if (record->info.owner == pluginId_ && pluginId_ != 0)
            errors_.push_back("handle \"" + record->info.label + "\" (" + std::to_string(record->info.size) +
                              " bytes) leaked by the module");
    handles_.clear();
    platform::unloadModule(library_);
    library_ = nullptr;
    entry_ = nullptr;
    ioRegistered_ = false;
    functions_ = {};
}

// ---- Callbacks, one at a time ------------------------------------------------

// Every callback: the slot the module filled in (none: 1), called with the
// host's basic data, then checked for suites it did not release.
template <typename Slot, typename... Args>
A_Err Host::callModule(const char* name, Slot slot, Args... args)
{
    if (!slot)
        return A_Err_GENERIC;
    const A_Err err = slot(&basic_, args...);
    checkSuitesReleased(name);
    return err;
}

A_Err Host::initOutputSpec(AEIO_OutSpecH out, bool* interacted)
{
    A_Boolean flag = 0;
    const A_Err err = callModule("AEIO_InitOutputSpec", functions_.AEIO_InitOutputSpec, out, &flag);
    if (interacted && functions_.AEIO_InitOutputSpec)  // without the callback nothing is answered
        *interacted = flag != 0;
    return err;
}

A_Err Host::userOptionsDialog(AEIO_OutSpecH out, bool* interacted)
{
    A_Boolean flag = 0;
    const PF_EffectWorld* sample = nullptr;
    const A_Err err = callModule("AEIO_UserOptionsDialog", functions_.AEIO_UserOptionsDialog, out, sample, &flag);
    if (interacted && functions_.AEIO_UserOptionsDialog)  // as above
        *interacted = flag != 0;
    return err;
}

A_Err Host::getDepths(AEIO_OutSpecH out, AEIO_SupportedDepthFlags* depth)
{
    return callModule("AEIO_GetDepths", functions_.AEIO_GetDepths, out, depth);
}

A_Err Host::getOutputInfo(AEIO_OutSpecH out, AEIO_Verbiage* verbiage)
{
    return callModule("AEIO_GetOutputInfo", functions_.AEIO_GetOutputInfo, out, verbiage);
}

A_Err Host::outputInfoChanged(AEIO_OutSpecH out)
{
    return callModule("AEIO_OutputInfoChanged", functions_.AEIO_OutputInfoChanged, out);
}

A_Err Host::getFlatOutputOptions(AEIO_OutSpecH out, std::vector<uint8_t>* flat)
{
    AEIO_Handle handle = nullptr;
    const A_Err err = callModule("AEIO_GetFlatOutputOptions", functions_.AEIO_GetFlatOutputOptions, out, &handle);
    if (!functions_.AEIO_GetFlatOutputOptions)
        return err;
    if (flat)
        flat->clear();
    if (err != A_Err_NONE || !handle)
        return err;
    // The host stores the bytes with the project and lets go of the handle.
    MemRecord* r = findHandle(handle);
    if (!r) {
        errors_.push_back("flat options handle unknown to the host");
        return err;
    }
    if (r->info.locks != 0)
        errors_.push_back("flat options handle returned locked");
    if (flat)
        flat->assign(r->data.get(), r->data.get() + r->info.size);
    handles_.erase(r);
    return err;
}

A_Err Host::disposeOutputOptions(AEIO_OutSpecH out)
{
    Output* o = findOutput(out);
    if (!o)
        return A_Err_GENERIC;
    const A_Err err = callModule("AEIO_DisposeOutputOptions", functions_.AEIO_DisposeOutputOptions, o->options);
    if (err == A_Err_NONE)
        o->options = nullptr;
    return err;
}

A_Err Host::startAdding(AEIO_OutSpecH out)
{
    return callModule("AEIO_StartAdding", functions_.AEIO_StartAdding, out, A_long(0));
}

A_Err Host::addFrame(AEIO_OutSpecH out, A_long frameIndex, const PF_EffectWorld& world)
{
    const A_LPoint origin{0, 0};
    AEIO_InterruptFuncs* interrupt = nullptr;
    return callModule("AEIO_AddFrame", functions_.AEIO_AddFrame, out, frameIndex, A_long(1), &world, &origin,
                      A_Boolean(0), interrupt);
}

A_Err Host::addSoundChunk(AEIO_OutSpecH out, A_u_long samples, const void* data)
{
    const A_Time start{0, 1};
    return callModule("AEIO_AddSoundChunk", functions_.AEIO_AddSoundChunk, out, &start, samples, data);
}

A_Err Host::endAdding(AEIO_OutSpecH out)
{
    return callModule("AEIO_EndAdding", functions_.AEIO_EndAdding, out, A_long(0));
}

// ---- The host's sequences ------------------------------------------------------

A_Err Host::removeOutput(AEIO_OutSpecH out)
{
    Output* o = findOutput(out);
    A_Err err = o && o->options ? disposeOutputOptions(out) : A_Err_NONE;
    for (auto it = outputs_.begin(); it != outputs_.end(); ++it)
        if (reinterpret_cast<AEIO_OutSpecH>(it->get()) == out) {
            outputs_.erase(it);
            break;
        }
    return err;
}

void Host::closeProject()
{
    while (!outputs_.empty())
        removeOutput(reinterpret_cast<AEIO_OutSpecH>(outputs_.back().get()));
}

A_Err Host::runOptions(const OutputSettings& settings, const std::vector<uint8_t>* stored, bool showDialog,
                       OptionsReport* report)
{
    OptionsReport local;
    OptionsReport& r = report ? *report : local;
    r.formatName = moduleInfo_.name;
    AEIO_OutSpecH out = addOutput(settings, stored);
    A_Err err = initOutputSpec(out);
    if (err == A_Err_NONE && showDialog)
        err = userOptionsDialog(out, &r.interacted);
    if (err == A_Err_NONE)
        err = getDepths(out, &r.depth);
    if (err == A_Err_NONE)
        err = getOutputInfo(out, &r.verbiage);
    if (err == A_Err_NONE)
        err = outputInfoChanged(out);
    if (err == A_Err_NONE)
        err = getFlatOutputOptions(out, &r.flattened);
    A_Err removed = removeOutput(out);
    return err != A_Err_NONE ? err : removed;
}

}  // namespace emulated_host
