// The options record: create or restore, flatten, dispose, describe, refresh
// and the render depth.
#include <cstring>
#include <memory>

#include "codec/zemo3.h"
#include "export_job.h"
#include "module.h"
#include "suites.h"

namespace zexport {

namespace {

void startLive(ExportOptions& options, PendingFrames* list)
{
    options.flattened = 0;
    options.writer = nullptr;
    options.pendingFrames = list;
    options.framesAdded = 0;
    options.samplesAdded = 0;
}

}  // namespace

A_Err initOutputSpec(AEIO_BasicData* basic, AEIO_OutSpecH out, A_Boolean* user_interacted)
{
    return guarded([&]() -> A_Err {
        SuiteCache suites(basic);
        const AEGP_IOOutSuite7& io = suites.ioOut();
        void* previous = nullptr;
        A_Err err = io.AEGP_GetOutSpecOptionsHandle(out, &previous);
        if (err != A_Err_NONE)
            return err;

        const AEGP_MemorySuite1& memory = suites.memory();
        // The new record's list exists before its handle, so that running out
        // of memory leaves no handle behind.
        auto list = std::make_unique<PendingFrames>();
        AEGP_MemHandle fresh = nullptr;
        err = memory.AEGP_NewMemHandle(g_pluginId, kLiveOptionsLabel, sizeof(ExportOptions), AEGP_MemFlag_CLEAR,
                                       &fresh);
        if (err != A_Err_NONE)
            return err;

        // A record that is never installed belongs to nobody else: it is
        // given back on every failure below (its list goes with `list`),
        // unless the host refused to unlock it: a locked handle cannot be
        // freed, and it stays with the host.
        HandleLock freshLock(memory, fresh);
        bool unlockRefused = false;
        auto abandon = [&](A_Err cause) {
            unlockRefused = unlockRefused || freshLock.unlock() != A_Err_NONE;
            if (!unlockRefused)
                memory.AEGP_FreeMemHandle(fresh);
            else
                list.release();  // the record left with the host keeps its list
            return cause;
        };
        if ((err = freshLock.lock()) != A_Err_NONE)
            return abandon(err);
        ExportOptions* record = freshLock.as<ExportOptions>();

        PendingFrames* previousList = nullptr;
        if (previous) {
            // Live and flattened records are restored alike: the stored
            // choice and alpha type survive, the job state starts over.
            HandleLock previousLock(memory, static_cast<AEGP_MemHandle>(previous));
            if ((err = previousLock.lock()) != A_Err_NONE)
                return abandon(err);
            const ExportOptions* old = previousLock.as<ExportOptions>();
            std::memcpy(record, old, sizeof(ExportOptions));
            if (old->flattened == 0)
                previousList = old->pendingFrames;
            startLive(*record, list.get());
            if ((err = previousLock.unlock()) != A_Err_NONE)
                return abandon(err);
        } else {
            startLive(*record, list.get());
            record->formatType = kDefaultFormatType;
            record->alphaType = kDefaultAlphaType;
        }
        if (user_interacted)
            *user_interacted = 1;

        if ((err = freshLock.unlock()) != A_Err_NONE) {
            unlockRefused = true;
            return abandon(err);
        }
        void* replaced = nullptr;
        if ((err = io.AEGP_SetOutSpecOptionsHandle(out, fresh, &replaced)) != A_Err_NONE)
            return abandon(err);
        list.release();  // owned by the installed record now
        // The previous record is replaced: it goes, with the list a live one owns.
        if (previous && (err = memory.AEGP_FreeMemHandle(static_cast<AEGP_MemHandle>(previous))) == A_Err_NONE)
            delete previousList;
        return err;
    });
}

A_Err getFlatOutputOptions(AEIO_BasicData* basic, AEIO_OutSpecH out, AEIO_Handle* flat)
{
    return guarded([&]() -> A_Err {
        SuiteCache suites(basic);
        void* live = nullptr;
        A_Err err = suites.ioOut().AEGP_GetOutSpecOptionsHandle(out, &live);
        if (err != A_Err_NONE || !live)
            return err;

        const AEGP_MemorySuite1& memory = suites.memory();
        AEGP_MemHandle copy = nullptr;
        err = memory.AEGP_NewMemHandle(g_pluginId, kFlatOptionsLabel, sizeof(ExportOptions), AEGP_MemFlag_CLEAR,
                                       &copy);
        if (err != A_Err_NONE)
            return err;
        // The host only takes the copy when the call succeeds; a copy the
        // host would not unlock cannot be freed and stays with it.
        auto abandon = [&](A_Err cause, bool copyUnlocked) {
            if (copyUnlocked)
                memory.AEGP_FreeMemHandle(copy);
            return cause;
        };
        HandleLock flatLock(memory, copy);
        HandleLock liveLock(memory, static_cast<AEGP_MemHandle>(live));
        if ((err = flatLock.lock()) != A_Err_NONE || (err = liveLock.lock()) != A_Err_NONE)
            return abandon(err, flatLock.unlock() == A_Err_NONE);
        ExportOptions* record = flatLock.as<ExportOptions>();
        std::memcpy(record, liveLock.as<ExportOptions>(), sizeof(ExportOptions));
        record->flattened = 1;
        record->writer = nullptr;
        record->framesAdded = 0;
        record->samplesAdded = 0;
        A_Err flatErr = flatLock.unlock();
        A_Err liveErr = liveLock.unlock();
        err = flatErr != A_Err_NONE ? flatErr : liveErr;
        if (err != A_Err_NONE)
            return abandon(err, flatErr == A_Err_NONE);
        if (flat)
            *flat = copy;
        return A_Err_NONE;
    });
}

A_Err disposeOutputOptions(AEIO_BasicData* basic, void* options)
{
    return guarded([&]() -> A_Err {
        if (!options)
            return A_Err_NONE;
        SuiteCache suites(basic);
        const AEGP_MemorySuite1& memory = suites.memory();
        auto handle = static_cast<AEGP_MemHandle>(options);
        // A live record owns its pending list; take it before the handle goes.
        // A record that cannot be locked or unlocked is not freed: its list
        // (and a job never ended) would be lost, and a locked handle cannot
        // be freed.
        PendingFrames* list = nullptr;
        HandleLock lock(memory, handle);
        A_Err err = lock.lock();
        if (err != A_Err_NONE)
            return err;
        ExportOptions* record = lock.as<ExportOptions>();
        if (record->flattened == 0) {
            // A job that was never ended is finished here, so that its movie
            // is complete rather than left without a trailer.
            finishJob(*record);
            list = record->pendingFrames;
        }
        if ((err = lock.unlock()) != A_Err_NONE)
            return err;
        err = memory.AEGP_FreeMemHandle(handle);
        if (err == A_Err_NONE)
            delete list;
        return err;
    });
}

A_Err getOutputInfo(AEIO_BasicData* basic, AEIO_OutSpecH out, AEIO_Verbiage* verbiage)
{
    return guarded([&]() -> A_Err {
        SuiteCache suites(basic);
        const PF_ANSICallbacksSuite1& ansi = suites.ansi();
        ansi.strcpy(verbiage->name, "filename");
        ansi.strcpy(verbiage->type, kFormatName);

        void* options = nullptr;
        A_Err err = suites.ioOut().AEGP_GetOutSpecOptionsHandle(out, &options);
        if (err != A_Err_NONE)
            return err;
        const char* subType = "";
        if (options) {
            const AEGP_MemorySuite1& memory = suites.memory();
            HandleLock lock(memory, static_cast<AEGP_MemHandle>(options));
            if ((err = lock.lock()) != A_Err_NONE)
                return err;
            subType = nox::formatTypeName(lock.as<ExportOptions>()->formatType);
            if ((err = lock.unlock()) != A_Err_NONE)
                return err;
        }
        ansi.strcpy(verbiage->sub_type, subType);
        return A_Err_NONE;
    });
}

A_Err outputInfoChanged(AEIO_BasicData* basic, AEIO_OutSpecH out)
{
    return guarded([&]() -> A_Err {
        SuiteCache suites(basic);
        const AEGP_IOOutSuite7& io = suites.ioOut();
        // A query that fails leaves "missing" set, so nothing is refreshed.
        A_Boolean missing = 1;
        A_Err err = io.AEGP_GetOutSpecIsMissing(out, &missing);
        if (err != A_Err_NONE || missing)
            return err;
        void* options = nullptr;
        if ((err = io.AEGP_GetOutSpecOptionsHandle(out, &options)) != A_Err_NONE || !options)
            return err;
        HandleLock lock(suites.memory(), static_cast<AEGP_MemHandle>(options));
        if ((err = lock.lock()) != A_Err_NONE)
            return err;
        AEIO_AlphaLabel label{};
        err = io.AEGP_GetOutSpecAlphaLabel(out, &label);
        if (err == A_Err_NONE)
            lock.as<ExportOptions>()->alphaType = label.alpha;
        A_Err unlockErr = lock.unlock();
        return err != A_Err_NONE ? err : unlockErr;
    });
}

A_Err getDepths(AEIO_BasicData* basic, AEIO_OutSpecH out, AEIO_SupportedDepthFlags* which)
{
    return guarded([&]() -> A_Err {
        SuiteCache suites(basic);
        const AEGP_IOOutSuite7& io = suites.ioOut();
        void* options = nullptr;
        // Any failure, a missing record included, is reported as 1: the host
        // then renders at its own default.
        if (io.AEGP_GetOutSpecOptionsHandle(out, &options) != A_Err_NONE || !options)
            return A_Err_GENERIC;
        HandleLock lock(suites.memory(), static_cast<AEGP_MemHandle>(options));
        if (lock.lock() != A_Err_NONE)
            return A_Err_GENERIC;
        AEIO_SupportedDepthFlags flag;
        switch (lock.as<ExportOptions>()->formatType) {
        case nox::ZEMO3_NORMAL_ALPHA:
        case nox::ZEMO3_HIGH_ALPHA:
            flag = AEIO_SupportedDepthFlags_DEPTH_32;
            break;
        case nox::ZEMO3_UV_MAP:
        case nox::ZEMO3_MASK:
            flag = AEIO_SupportedDepthFlags_DEPTH_64;
            break;
        default:
            flag = AEIO_SupportedDepthFlags_DEPTH_24;
            break;
        }
        if (which)
            *which = flag;
        bool failed = lock.unlock() != A_Err_NONE;
        void* replaced = nullptr;
        failed |= io.AEGP_SetOutSpecOptionsHandle(out, options, &replaced) != A_Err_NONE;
        return failed ? A_Err_GENERIC : A_Err_NONE;
    });
}

}  // namespace zexport
