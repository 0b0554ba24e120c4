// The output's options record for the length of one callback: its handle got
// from the host ("AEGP IO Out Suite" AEGP_GetOutSpecOptionsHandle), locked
// ("AEGP Memory Suite" AEGP_LockMemHandle) and unlocked again on every path.
//
//   SuiteCache suites(basic);
//   OptionsRecord options(suites, out);
//   if (A_Err err = options.open(); err != A_Err_NONE || !options)
//       return err;                 // the host's error; 0 without a record
//   options->formatType = ...;
//   return options.unlock();        // the host's answer to the unlock
//
// The suites are acquired when first used (IO Out by get(), Memory by
// lock()), so the host sees the same calls as without the helper.
#pragma once

#include <optional>

#include "export_options.h"
#include "suites.h"

namespace zexport {

class OptionsRecord {
public:
    OptionsRecord(SuiteCache& suites, AEIO_OutSpecH out) : suites_(suites), out_(out) {}

    // Gets the handle and, when the output has one, locks it: the first host
    // error, or 0 (then the record is there unless the output has none).
    A_Err open()
    {
        const A_Err err = get();
        return err != A_Err_NONE || !handle_ ? err : lock();
    }
    // The steps of open() apart, for callbacks that do more in between.
    A_Err get() { return suites_.ioOut().AEGP_GetOutSpecOptionsHandle(out_, &handle_); }
    A_Err lock()
    {
        lock_.emplace(suites_.memory(), handle());
        return lock_->lock();
    }
    // Unlocks a locked record (a second unlock does nothing): the host's answer.
    A_Err unlock() { return lock_ ? lock_->unlock() : A_Err_NONE; }
    // Hands the same handle back to the output (AEGP_SetOutSpecOptionsHandle).
    A_Err handBack()
    {
        void* replaced = nullptr;
        return suites_.ioOut().AEGP_SetOutSpecOptionsHandle(out_, handle_, &replaced);
    }

    // The output's handle (null when it has none or get() failed).
    AEGP_MemHandle handle() const { return static_cast<AEGP_MemHandle>(handle_); }
    // The record, while it is locked.
    explicit operator bool() const { return lock_ && lock_->as<ExportOptions>(); }
    ExportOptions& operator*() const { return *lock_->as<ExportOptions>(); }
    ExportOptions* operator->() const { return lock_->as<ExportOptions>(); }

    OptionsRecord(const OptionsRecord&) = delete;
    OptionsRecord& operator=(const OptionsRecord&) = delete;

private:
    SuiteCache& suites_;
    AEIO_OutSpecH out_;
    void* handle_ = nullptr;
    std::optional<HandleLock> lock_;
};

}  // namespace zexport
