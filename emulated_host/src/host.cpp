#include "emulated_host/host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/platform.h"

namespace emulated_host {

namespace {

Host* g_host = nullptr;

constexpr uint32_t kOutputMagic = 0x4F555450;  // "OUTP"
constexpr uint32_t kHandleMagic = 0x4D454D48;  // "MEMH"

std::string moduleFileName()
{
#ifdef _WIN32
    return "Zemo3AfterEffectsExport.aex";
#else
    return "Zemo3AfterEffectsExport.so";
#endif
}

bool readable(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f)
        std::fclose(f);
    return f != nullptr;
}

}  // namespace

std::string defaultModulePath()
{
    if (const char* env = std::getenv("ZEMO_MODULE"); env && *env)
        return env;
    std::string dir = platform::executablePath();
    const size_t slash = dir.find_last_of("/\\");
    if (slash != std::string::npos) {
        dir.erase(slash + 1);
        if (std::string beside = dir + moduleFileName(); readable(beside))
            return beside;
        // An installed tree: bin/zemo3 and lib/zemo3/<module>.
        if (std::string installed = dir + "../lib/zemo3/" + moduleFileName(); readable(installed))
            return installed;
    }
    return ZEMO_BUILT_MODULE_PATH;
}

struct Host::MemRecord {
    uint32_t magic = kHandleMagic;
    HandleInfo info;
    std::unique_ptr<uint8_t[]> data;
};

struct Host::Output {
    uint32_t magic = kOutputMagic;
    OutputSettings settings;
    AEGP_MemHandle options = nullptr;
};

// The suites as plain functions. Each member records its call, answers an
// injected fault when one is set, and otherwise does the host's work.
struct Host::Served {
    static Host& host() { return *g_host; }

    static Output* output(AEIO_OutSpecH out)
    {
        Output* o = host().findOutput(out);
        if (!o)
            host().errors_.push_back("unknown output specification");
        return o;
    }

    // ---- Basic suite ----
    static A_Err acquireSuite(const char* name, A_long version, const void** suite)
    {
        Host& h = host();
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

    static A_Err releaseSuite(const char* name, A_long version)
    {
        Host& h = host();
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

    static const void* lookup(const std::string& name, A_long version)
    {
        static const AEGP_RegisterSuite6 registerSuite{registerDeathHook, registerIO};
        static const AEGP_UtilitySuite7 utility7{registerWithAEGP};
        static const AEGP_UtilitySuite3 utility3{getMainHWND};
        static const PF_ANSICallbacksSuite1 ansi{ansiStrcpy};
        static const AEGP_IOOutSuite7 ioOut{getOptionsHandle, setOptionsHandle, getFilePath,
                                            getFPS,           getDimensions,    getSoundRate,
                                            getSoundChannels, getSoundSampleSize, getAlphaLabel,
                                            getIsMissing};
        static const AEGP_MemorySuite1 memory{newMemHandle, freeMemHandle, lockMemHandle, unlockMemHandle,
                                              getMemHandleSize};
        if (name == kAEGPRegisterSuite && version == kAEGPRegisterSuiteVersion6)
            return &registerSuite;
        if (name == kAEGPUtilitySuite && version == kAEGPUtilitySuiteVersion7)
            return &utility7;
        if (name == kAEGPUtilitySuite && version == kAEGPUtilitySuiteVersion3)
            return &utility3;
        if (name == kPFANSISuite && version == kPFANSISuiteVersion1)
            return &ansi;
        if (name == kAEGPIOOutSuite && version == kAEGPIOOutSuiteVersion7)
            return &ioOut;
        if (name == kAEGPMemorySuite && version == kAEGPMemorySuiteVersion1)
            return &memory;
        return nullptr;
    }

    // ---- Register suite ----
    static A_Err registerDeathHook(AEGP_PluginID, AEGP_DeathHook hook, AEGP_DeathRefcon refcon)
    {
        if (A_Err e = host().fault("AEGP_RegisterDeathHook"))
            return e;
        host().deathHook_ = hook;
        host().deathRefcon_ = refcon;
        return A_Err_NONE;
    }

    static A_Err registerIO(AEGP_PluginID, AEGP_IORefcon, const AEIO_ModuleInfo* info,
                            const AEIO_FunctionBlock4* functions)
    {
        if (A_Err e = host().fault("AEGP_RegisterIO"))
            return e;
        if (!info || !functions)
            return A_Err_PARAMETER;
        // The host keeps copies; the module's records may change afterwards.
        host().moduleInfo_ = *info;
        host().functions_ = *functions;
        host().ioRegistered_ = true;
        return A_Err_NONE;
    }

    // ---- Utility suites ----
    static A_Err registerWithAEGP(AEGP_GlobalRefcon, const A_char* name, AEGP_PluginID* id)
    {
        if (A_Err e = host().fault("AEGP_RegisterWithAEGP"))
            return e;
        if (!name || !id)
            return A_Err_PARAMETER;
        host().pluginName_ = name;
        host().pluginId_ = host().nextPluginId_++;
        *id = host().pluginId_;
        return A_Err_NONE;
    }

    static A_Err getMainHWND(void* mainHWND)
    {
        if (A_Err e = host().fault("AEGP_GetMainHWND"))
            return e;
        if (!mainHWND)
            return A_Err_PARAMETER;
        // Without a main window of its own the host offers none; dialogs then
        // come up on the controlling terminal (on Windows, over the desktop).
        *static_cast<AEGP_HWND*>(mainHWND) = host().mainWindow_;
        return A_Err_NONE;
    }

    // ---- ANSI suite ----
    static A_char* ansiStrcpy(A_char* dst, const A_char* src)
    {
        host().calls_.push_back("strcpy");
        return std::strcpy(dst, src);
    }

    // ---- IO Out suite ----
    static A_Err getOptionsHandle(AEIO_OutSpecH out, void** options)
    {
        if (A_Err e = host().fault("AEGP_GetOutSpecOptionsHandle"))
            return e;
        Output* o = output(out);
        if (!o || !options)
            return A_Err_PARAMETER;
        *options = o->options;
        return A_Err_NONE;
    }

    static A_Err setOptionsHandle(AEIO_OutSpecH out, void* options, void** old)
    {
        if (A_Err e = host().fault("AEGP_SetOutSpecOptionsHandle"))
            return e;
        Output* o = output(out);
        if (!o)
            return A_Err_PARAMETER;
        if (options && !host().findHandle(static_cast<AEGP_MemHandle>(options))) {
            host().errors_.push_back("options handle set that the host does not know");
            return A_Err_PARAMETER;
        }
        if (old)
            *old = o->options;
        o->options = static_cast<AEGP_MemHandle>(options);
        return A_Err_NONE;
    }

    static A_Err getFilePath(AEIO_OutSpecH out, AEGP_MemHandle* path, A_Boolean* reserved)
    {
        if (A_Err e = host().fault("AEGP_GetOutSpecFilePath"))
            return e;
        Output* o = output(out);
        if (!o || !path)
            return A_Err_PARAMETER;
        if (reserved)
            *reserved = 0;
        // The module owns the path handle and frees it.
        const std::u16string& p = o->settings.path;
        uint64_t bytes = (p.size() + 1) * sizeof(char16_t);
        *path = host().newHandle(host().pluginId_, "output path", bytes, AEGP_MemFlag_CLEAR);
        std::memcpy(host().findHandle(*path)->data.get(), p.c_str(), bytes);
        return A_Err_NONE;
    }

    static A_Err getFPS(AEIO_OutSpecH out, A_Fixed* fps)
    {
        if (A_Err e = host().fault("AEGP_GetOutSpecFPS"))
            return e;
        Output* o = output(out);
        if (!o || !fps)
            return A_Err_PARAMETER;
        *fps = o->settings.fps;
        return A_Err_NONE;
    }

    static A_Err getDimensions(AEIO_OutSpecH out, A_long* width, A_long* height)
    {
        if (A_Err e = host().fault("AEGP_GetOutSpecDimensions"))
            return e;
        Output* o = output(out);
        if (!o || !width || !height)
            return A_Err_PARAMETER;
        *width = o->settings.width;
        *height = o->settings.height;
        return A_Err_NONE;
    }

    static A_Err getSoundRate(AEIO_OutSpecH out, A_FpLong* rate)
    {
        if (A_Err e = host().fault("AEGP_GetOutSpecSoundRate"))
            return e;
        Output* o = output(out);
        if (!o || !rate)
            return A_Err_PARAMETER;
        *rate = o->settings.soundRate;
        return A_Err_NONE;
    }

    static A_Err getSoundChannels(AEIO_OutSpecH out, A_short* channels)
    {
        if (A_Err e = host().fault("AEGP_GetOutSpecSoundChannels"))
            return e;
        Output* o = output(out);
        if (!o || !channels)
            return A_Err_PARAMETER;
        *channels = o->settings.channels;
        return A_Err_NONE;
    }

    static A_Err getSoundSampleSize(AEIO_OutSpecH out, A_short* size)
    {
        if (A_Err e = host().fault("AEGP_GetOutSpecSoundSampleSize"))
            return e;
        Output* o = output(out);
        if (!o || !size)
            return A_Err_PARAMETER;
        *size = o->settings.sampleSize;
        return A_Err_NONE;
    }

    static A_Err getAlphaLabel(AEIO_OutSpecH out, AEIO_AlphaLabel* label)
    {
        if (A_Err e = host().fault("AEGP_GetOutSpecAlphaLabel"))
            return e;
        Output* o = output(out);
        if (!o || !label)
            return A_Err_PARAMETER;
        *label = o->settings.alpha;
        return A_Err_NONE;
    }

    static A_Err getIsMissing(AEIO_OutSpecH out, A_Boolean* missing)
    {
        if (A_Err e = host().fault("AEGP_GetOutSpecIsMissing"))
            return e;
        Output* o = output(out);
        if (!o || !missing)
            return A_Err_PARAMETER;
        *missing = o->settings.missing ? 1 : 0;
        return A_Err_NONE;
    }

    // ---- Memory suite ----
    static A_Err newMemHandle(AEGP_PluginID owner, const A_char* what, AEGP_MemSize size, AEGP_MemFlag flags,
                              AEGP_MemHandle* handle)
    {
        if (A_Err e = host().fault("AEGP_NewMemHandle"))
            return e;
        if (!handle)
            return A_Err_PARAMETER;
        if (owner != host().pluginId_ || owner == 0)
            host().errors_.push_back("handle \"" + std::string(what ? what : "") +
                                     "\" allocated for an unregistered plug-in ID " + std::to_string(owner));
        *handle = host().newHandle(owner, what ? what : "", size, flags);
        return A_Err_NONE;
    }

    static A_Err freeMemHandle(AEGP_MemHandle handle)
    {
        if (A_Err e = host().fault("AEGP_FreeMemHandle"))
            return e;
        Host& h = host();
        MemRecord* r = h.findHandle(handle);
        if (!r) {
            h.errors_.push_back("free of an unknown handle");
            return A_Err_PARAMETER;
        }
        if (r->info.locks > 0) {
            h.errors_.push_back("free of locked handle \"" + r->info.label + "\"");
            return A_Err_PARAMETER;
        }
        for (auto& o : h.outputs_)
            if (o->options == handle)
                o->options = nullptr;  // the output no longer has options
        h.handles_.erase(r);
        return A_Err_NONE;
    }

    static A_Err lockMemHandle(AEGP_MemHandle handle, void** ptr)
    {
        if (A_Err e = host().fault("AEGP_LockMemHandle"))
            return e;
        MemRecord* r = host().findHandle(handle);
        if (!r) {
            host().errors_.push_back("lock of an unknown handle");
            return A_Err_PARAMETER;
        }
        if (!ptr)
            return A_Err_PARAMETER;
        ++r->info.locks;
        *ptr = r->data.get();
        return A_Err_NONE;
    }

    static A_Err unlockMemHandle(AEGP_MemHandle handle)
    {
        if (A_Err e = host().fault("AEGP_UnlockMemHandle"))
            return e;
        MemRecord* r = host().findHandle(handle);
        if (!r) {
            host().errors_.push_back("unlock of an unknown handle");
            return A_Err_PARAMETER;
        }
        if (r->info.locks == 0) {
            host().errors_.push_back("unlock of handle \"" + r->info.label + "\" that is not locked");
            return A_Err_PARAMETER;
        }
        --r->info.locks;
        return A_Err_NONE;
    }

    static A_Err getMemHandleSize(AEGP_MemHandle handle, AEGP_MemSize* size)
    {
        if (A_Err e = host().fault("AEGP_GetMemHandleSize"))
            return e;
        MemRecord* r = host().findHandle(handle);
        if (!r || !size)
            return A_Err_PARAMETER;
        *size = r->info.size;
        return A_Err_NONE;
    }
};

Host::Host()
{
    if (g_host)
        throw std::logic_error("only one emulated host at a time");
    g_host = this;
    basicSuite_.AcquireSuite = Served::acquireSuite;
    basicSuite_.ReleaseSuite = Served::releaseSuite;
    basic_.pica_basicP = &basicSuite_;
    basic_.aegp_plug_id = kEntryPluginId;
}

Host::~Host()
{
    if (library_)
        unload();
    g_host = nullptr;
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

void Host::closeProject()
{
    while (!outputs_.empty())
        removeOutput(reinterpret_cast<AEIO_OutSpecH>(outputs_.back().get()));
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

void Host::withholdSuite(const std::string& name, A_long version, Withhold how)
{
    withheld_[{name, version}] = how;
}

void Host::failMember(const std::string& member, A_Err err, int after)
{
    failing_[member] = {err, after};
}

void Host::clearFaults()
{
    withheld_.clear();
    failing_.clear();
}

A_Err Host::fault(const char* member)
{
    calls_.push_back(member);
    auto it = failing_.find(member);
    if (it == failing_.end())
        return A_Err_NONE;
    if (it->second.after > 0) {
        --it->second.after;
        return A_Err_NONE;
    }
    return it->second.err;
}

void Host::clearLocks()
{
    for (auto& [key, record] : handles_)
        record->info.locks = 0;
}

std::vector<AEGP_MemHandle> Host::orphanedHandles(const std::string& label) const
{
    std::vector<AEGP_MemHandle> found;
    for (const auto& [key, record] : handles_) {
        const auto handle = reinterpret_cast<AEGP_MemHandle>(key);
        bool used = false;
        for (const auto& o : outputs_)
            used = used || o->options == handle;
        if (!used && record->info.label == label && record->info.owner == pluginId_)
            found.push_back(handle);
    }
    return found;
}

size_t Host::freeHandles(const std::string& label)
{
    const std::vector<AEGP_MemHandle> orphans = orphanedHandles(label);
    for (AEGP_MemHandle handle : orphans)
        handles_.erase(findHandle(handle));
    return orphans.size();
}

void Host::checkSuitesReleased(const char* callback)
{
    for (auto& [key, count] : acquired_)
        if (count != 0) {
            errors_.push_back(std::string(callback) + " left suite \"" + key.first + "\" " +
                              std::to_string(key.second) + " acquired");
            count = 0;
        }
}

Host::MemRecord* Host::findHandle(AEGP_MemHandle handle) const
{
    auto* r = reinterpret_cast<MemRecord*>(handle);
    return handles_.count(r) ? r : nullptr;
}

AEGP_MemHandle Host::newHandle(AEGP_PluginID owner, const std::string& label, uint64_t size, AEGP_MemFlag flags)
{
    auto record = std::make_unique<MemRecord>();
    record->info = {owner, label, size, flags, 0};
    allocations_.push_back(record->info);
    // Blocks that are not to be cleared get a pattern, so that a module
    // relying on zeros it did not ask for shows up.
    record->data.reset(new uint8_t[size ? size : 1]);
    std::memset(record->data.get(), (flags & AEGP_MemFlag_CLEAR) ? 0 : 0xA5, size ? size : 1);
    MemRecord* key = record.get();
    handles_[key] = std::move(record);
    return reinterpret_cast<AEGP_MemHandle>(key);
}

std::optional<HandleInfo> Host::handleInfo(AEGP_MemHandle handle) const
{
    MemRecord* r = findHandle(handle);
    if (!r)
        return std::nullopt;
    return r->info;
}

std::vector<HandleInfo> Host::allHandles() const
{
    std::vector<HandleInfo> out;
    for (const auto& [key, record] : handles_)
        out.push_back(record->info);
    return out;
}

std::vector<uint8_t> Host::handleBytes(AEGP_MemHandle handle) const
{
    MemRecord* r = findHandle(handle);
    if (!r)
        return {};
    return std::vector<uint8_t>(r->data.get(), r->data.get() + r->info.size);
}

bool Host::patchHandle(AEGP_MemHandle handle, size_t offset, const void* bytes, size_t size)
{
    MemRecord* r = findHandle(handle);
    if (!r || offset > r->info.size || size > r->info.size - offset)
        return false;
    std::memcpy(r->data.get() + offset, bytes, size);
    return true;
}

AEIO_OutSpecH Host::addOutput(const OutputSettings& settings, const std::vector<uint8_t>* stored)
{
    auto output = std::make_unique<Output>();
    output->settings = settings;
    if (stored) {
        // A stored record comes back from the project in a handle of the
        // module's (it allocated the record the project was saved from).
        output->options = newHandle(pluginId_, "stored options", stored->size(), AEGP_MemFlag_NONE);
        std::memcpy(findHandle(output->options)->data.get(), stored->data(), stored->size());
    }
    outputs_.push_back(std::move(output));
    return reinterpret_cast<AEIO_OutSpecH>(outputs_.back().get());
}

Host::Output* Host::findOutput(AEIO_OutSpecH out) const
{
    for (const auto& o : outputs_)
        if (reinterpret_cast<AEIO_OutSpecH>(o.get()) == out)
            return o.get();
    return nullptr;
}

OutputSettings& Host::settings(AEIO_OutSpecH out)
{
    Output* o = findOutput(out);
    if (!o)
        throw std::invalid_argument("unknown output");
    return o->settings;
}

AEGP_MemHandle Host::optionsHandle(AEIO_OutSpecH out) const
{
    Output* o = findOutput(out);
    return o ? o->options : nullptr;
}

std::optional<zexport::ExportOptions> Host::options(AEIO_OutSpecH out) const
{
    AEGP_MemHandle h = optionsHandle(out);
    MemRecord* r = findHandle(h);
    if (!r || r->info.size < sizeof(zexport::ExportOptions))
        return std::nullopt;
    zexport::ExportOptions record;
    std::memcpy(&record, r->data.get(), sizeof record);
    return record;
}

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

A_Err Host::initOutputSpec(AEIO_OutSpecH out, bool* interacted)
{
    if (!functions_.AEIO_InitOutputSpec)
        return A_Err_GENERIC;
    A_Boolean flag = 0;
    A_Err err = functions_.AEIO_InitOutputSpec(&basic_, out, &flag);
    checkSuitesReleased("AEIO_InitOutputSpec");
    if (interacted)
        *interacted = flag != 0;
    return err;
}

A_Err Host::userOptionsDialog(AEIO_OutSpecH out, bool* interacted)
{
    if (!functions_.AEIO_UserOptionsDialog)
        return A_Err_GENERIC;
    A_Boolean flag = 0;
    A_Err err = functions_.AEIO_UserOptionsDialog(&basic_, out, nullptr, &flag);
    checkSuitesReleased("AEIO_UserOptionsDialog");
    if (interacted)
        *interacted = flag != 0;
    return err;
}

A_Err Host::getDepths(AEIO_OutSpecH out, AEIO_SupportedDepthFlags* depth)
{
    if (!functions_.AEIO_GetDepths)
        return A_Err_GENERIC;
    A_Err err = functions_.AEIO_GetDepths(&basic_, out, depth);
    checkSuitesReleased("AEIO_GetDepths");
    return err;
}

A_Err Host::getOutputInfo(AEIO_OutSpecH out, AEIO_Verbiage* verbiage)
{
    if (!functions_.AEIO_GetOutputInfo)
        return A_Err_GENERIC;
    A_Err err = functions_.AEIO_GetOutputInfo(&basic_, out, verbiage);
    checkSuitesReleased("AEIO_GetOutputInfo");
    return err;
}

A_Err Host::outputInfoChanged(AEIO_OutSpecH out)
{
    if (!functions_.AEIO_OutputInfoChanged)
        return A_Err_GENERIC;
    A_Err err = functions_.AEIO_OutputInfoChanged(&basic_, out);
    checkSuitesReleased("AEIO_OutputInfoChanged");
    return err;
}

A_Err Host::getFlatOutputOptions(AEIO_OutSpecH out, std::vector<uint8_t>* flat)
{
    if (!functions_.AEIO_GetFlatOutputOptions)
        return A_Err_GENERIC;
    AEIO_Handle handle = nullptr;
    A_Err err = functions_.AEIO_GetFlatOutputOptions(&basic_, out, &handle);
    checkSuitesReleased("AEIO_GetFlatOutputOptions");
    if (flat)
        flat->clear();
    if (err == A_Err_NONE && handle) {
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
    }
    return err;
}

A_Err Host::disposeOutputOptions(AEIO_OutSpecH out)
{
    Output* o = findOutput(out);
    if (!o || !functions_.AEIO_DisposeOutputOptions)
        return A_Err_GENERIC;
    A_Err err = functions_.AEIO_DisposeOutputOptions(&basic_, o->options);
    checkSuitesReleased("AEIO_DisposeOutputOptions");
    if (err == A_Err_NONE)
        o->options = nullptr;
    return err;
}

A_Err Host::startAdding(AEIO_OutSpecH out)
{
    if (!functions_.AEIO_StartAdding)
        return A_Err_GENERIC;
    A_Err err = functions_.AEIO_StartAdding(&basic_, out, 0);
    checkSuitesReleased("AEIO_StartAdding");
    return err;
}

A_Err Host::addFrame(AEIO_OutSpecH out, A_long frameIndex, const PF_EffectWorld& world)
{
    if (!functions_.AEIO_AddFrame)
        return A_Err_GENERIC;
    A_LPoint origin{0, 0};
    A_Err err = functions_.AEIO_AddFrame(&basic_, out, frameIndex, 1, &world, &origin, 0, nullptr);
    checkSuitesReleased("AEIO_AddFrame");
    return err;
}

A_Err Host::addSoundChunk(AEIO_OutSpecH out, A_u_long samples, const void* data)
{
    if (!functions_.AEIO_AddSoundChunk)
        return A_Err_GENERIC;
    A_Time start{0, 1};
    A_Err err = functions_.AEIO_AddSoundChunk(&basic_, out, &start, samples, data);
    checkSuitesReleased("AEIO_AddSoundChunk");
    return err;
}

A_Err Host::endAdding(AEIO_OutSpecH out)
{
    if (!functions_.AEIO_EndAdding)
        return A_Err_GENERIC;
    A_Err err = functions_.AEIO_EndAdding(&basic_, out, 0);
    checkSuitesReleased("AEIO_EndAdding");
    return err;
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
