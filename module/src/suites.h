// Reaching the host's suites from a callback.
//
// Every callback wraps its work in guarded() and creates one SuiteCache on the
// basic suite it was given. A suite is acquired on its first use and released
// when the cache goes away, on every path. A suite the host cannot supply
// (or a null basic suite) abandons the callback with 516.
//
//   return guarded([&]() -> A_Err {
//       SuiteCache suites(basic);
//       A_long width = 0, height = 0;
//       A_Err err = suites.ioOut().AEGP_GetOutSpecDimensions(out, &width, &height);
//       ...
//   });
//
// The output's options record is reached through OptionsRecord
// (options_record.h), which gets, locks and unlocks it.
#pragma once

#include <new>
#include <vector>

#include "host_api/host_api.h"

namespace zexport {

// Thrown by SuiteCache when a suite cannot be had; guarded() turns it into 516.
struct MissingSuite {};

class SuiteCache {
public:
    explicit SuiteCache(const SPBasicSuite* basic) : basic_(basic) {}
    explicit SuiteCache(const AEIO_BasicData* basic) : basic_(basic ? basic->pica_basicP : nullptr) {}
    ~SuiteCache();

    // Each suite the module uses, at the version it asks for.
    const AEGP_RegisterSuite6& registerSuite() { return get<AEGP_RegisterSuite6>(kAEGPRegisterSuite, 6); }
    const AEGP_UtilitySuite7& utility7() { return get<AEGP_UtilitySuite7>(kAEGPUtilitySuite, 7); }
    const AEGP_UtilitySuite3& utility3() { return get<AEGP_UtilitySuite3>(kAEGPUtilitySuite, 3); }
    const PF_ANSICallbacksSuite1& ansi() { return get<PF_ANSICallbacksSuite1>(kPFANSISuite, 1); }
    const AEGP_IOOutSuite7& ioOut() { return get<AEGP_IOOutSuite7>(kAEGPIOOutSuite, 7); }
    const AEGP_MemorySuite1& memory() { return get<AEGP_MemorySuite1>(kAEGPMemorySuite, 1); }
    // A suite some hosts serve and others do not: null when this one does not.
    const Zemo_LogSuite1* log() { return static_cast<const Zemo_LogSuite1*>(tryAcquire(kZemoLogSuite, 1)); }
    const Zemo_ResultSuite1* result() { return static_cast<const Zemo_ResultSuite1*>(tryAcquire(kZemoResultSuite, 1)); }

    SuiteCache(const SuiteCache&) = delete;
    SuiteCache& operator=(const SuiteCache&) = delete;

private:
    // The suite from the cache, or acquired now (MissingSuite when it cannot be had).
    const void* acquire(const char* name, A_long version);
    // The same, null when it cannot be had.
    const void* tryAcquire(const char* name, A_long version);
    template <typename Suite>
    const Suite& get(const char* name, A_long version)
    {
        return *static_cast<const Suite*>(acquire(name, version));
    }

    struct Entry {
        const char* name;
        A_long version;
        const void* suite;
    };
    const SPBasicSuite* basic_;
    std::vector<Entry> acquired_;
};

// Runs a callback body and maps what escapes it to the host's codes: a
// missing suite to 516, an allocation failure to A_Err_ALLOC, anything else
// to 1. Nothing is allowed to unwind into the host.
template <typename Body>
A_Err guarded(Body&& body) noexcept
{
    try {
        return body();
    } catch (const MissingSuite&) {
        return PF_Err_BAD_CALLBACK_PARAM;
    } catch (const std::bad_alloc&) {
        return A_Err_ALLOC;
    } catch (...) {
        return A_Err_GENERIC;
    }
}

// A lock on a memory handle that is given back when the scope is left early
// (an abandoned callback); the normal path unlocks explicitly to see the
// host's result.
class HandleLock {
public:
    HandleLock(const AEGP_MemorySuite1& memory, AEGP_MemHandle handle) : memory_(memory), handle_(handle) {}
    ~HandleLock()
    {
        if (data_)
            memory_.AEGP_UnlockMemHandle(handle_);
    }
    A_Err lock()
    {
        void* p = nullptr;
        A_Err err = memory_.AEGP_LockMemHandle(handle_, &p);
        if (err == A_Err_NONE)
            data_ = p;
        return err;
    }
    A_Err unlock()
    {
        if (!data_)
            return A_Err_NONE;
        data_ = nullptr;
        return memory_.AEGP_UnlockMemHandle(handle_);
    }
    template <typename T>
    T* as() const
    {
        return static_cast<T*>(data_);
    }

    HandleLock(const HandleLock&) = delete;
    HandleLock& operator=(const HandleLock&) = delete;

private:
    const AEGP_MemorySuite1& memory_;
    AEGP_MemHandle handle_;
    void* data_ = nullptr;
};

}  // namespace zexport
