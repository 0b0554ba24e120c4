#include "suites.h"

#include <cstring>

namespace zexport {

SuiteCache::~SuiteCache()
{
    // Last acquired first, the way nested acquisitions unwind.
    for (auto it = acquired_.rbegin(); it != acquired_.rend(); ++it)
        basic_->ReleaseSuite(it->name, it->version);
}

const void* SuiteCache::acquire(const char* name, A_long version)
{
    for (const auto& e : acquired_)
        if (e.version == version && std::strcmp(e.name, name) == 0)
            return e.suite;
    if (!basic_ || !basic_->AcquireSuite)
        throw MissingSuite{};
    const void* suite = nullptr;
    A_Err err = basic_->AcquireSuite(name, version, &suite);
    if (err != A_Err_NONE || !suite) {
        // A host that hands out a null suite with success still counts it as
        // acquired; give it back.
        if (err == A_Err_NONE)
            basic_->ReleaseSuite(name, version);
        throw MissingSuite{};
    }
    acquired_.push_back({name, version, suite});
    return suite;
}

const AEGP_RegisterSuite6& SuiteCache::registerSuite()
{
    return *static_cast<const AEGP_RegisterSuite6*>(acquire(kAEGPRegisterSuite, kAEGPRegisterSuiteVersion6));
}

const AEGP_UtilitySuite7& SuiteCache::utility7()
{
    return *static_cast<const AEGP_UtilitySuite7*>(acquire(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7));
}

const AEGP_UtilitySuite3& SuiteCache::utility3()
{
    return *static_cast<const AEGP_UtilitySuite3*>(acquire(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3));
}

const PF_ANSICallbacksSuite1& SuiteCache::ansi()
{
    return *static_cast<const PF_ANSICallbacksSuite1*>(acquire(kPFANSISuite, kPFANSISuiteVersion1));
}

const AEGP_IOOutSuite7& SuiteCache::ioOut()
{
    return *static_cast<const AEGP_IOOutSuite7*>(acquire(kAEGPIOOutSuite, kAEGPIOOutSuiteVersion7));
}

const AEGP_MemorySuite1& SuiteCache::memory()
{
    return *static_cast<const AEGP_MemorySuite1*>(acquire(kAEGPMemorySuite, kAEGPMemorySuiteVersion1));
}

}  // namespace zexport
