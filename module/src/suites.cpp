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
    if (const void* suite = tryAcquire(name, version))
        return suite;
    throw MissingSuite{};
}

const void* SuiteCache::tryAcquire(const char* name, A_long version)
{
    for (const auto& e : acquired_)
        if (e.version == version && std::strcmp(e.name, name) == 0)
            return e.suite;
    if (!basic_ || !basic_->AcquireSuite)
        return nullptr;
    const void* suite = nullptr;
    A_Err err = basic_->AcquireSuite(name, version, &suite);
    if (err != A_Err_NONE || !suite) {
        // A host that hands out a null suite with success still counts it as
        // acquired; give it back.
        if (err == A_Err_NONE)
            basic_->ReleaseSuite(name, version);
        return nullptr;
    }
    acquired_.push_back({name, version, suite});
    return suite;
}

}  // namespace zexport
