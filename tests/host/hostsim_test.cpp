// The emulated host's own checks. The other tests rely on them to notice
// leaked or misused handles and suites left acquired, so they are shown to
// fire here.
#include <functional>

#include "host_session.h"

namespace hosttest {
namespace {

const AEGP_MemorySuite1& acquireMemory(hostsim::Host& host)
{
    const void* suite = nullptr;
    EXPECT_EQ(host.basicData()->pica_basicP->AcquireSuite(kAEGPMemorySuite, 1, &suite), A_Err_NONE);
    return *static_cast<const AEGP_MemorySuite1*>(suite);
}

void releaseMemory(hostsim::Host& host)
{
    host.basicData()->pica_basicP->ReleaseSuite(kAEGPMemorySuite, 1);
}

bool reported(const hostsim::Host& host, const std::string& text)
{
    for (const auto& e : host.errors())
        if (e.find(text) != std::string::npos)
            return true;
    return false;
}

using HostChecks = HostTest;

TEST_F(HostChecks, MisusedHandlesAreReported)
{
    struct Case {
        const char* what;
        std::function<A_Err(const AEGP_MemorySuite1&, AEGP_PluginID)> misuse;
        A_Err result;
        const char* report;
    };
    const Case cases[] = {
        {"free while locked",
         [](const AEGP_MemorySuite1& m, AEGP_PluginID id) {
             AEGP_MemHandle h = nullptr;
             void* p = nullptr;
             m.AEGP_NewMemHandle(id, "probe", 8, AEGP_MemFlag_CLEAR, &h);
             m.AEGP_LockMemHandle(h, &p);
             A_Err err = m.AEGP_FreeMemHandle(h);
             m.AEGP_UnlockMemHandle(h);
             m.AEGP_FreeMemHandle(h);
             return err;
         },
         A_Err_PARAMETER, "free of locked handle \"probe\""},
        {"free of an unknown handle",
         [](const AEGP_MemorySuite1& m, AEGP_PluginID) {
             int junk = 0;
             return m.AEGP_FreeMemHandle(reinterpret_cast<AEGP_MemHandle>(&junk));
         },
         A_Err_PARAMETER, "free of an unknown handle"},
        {"unlock without lock",
         [](const AEGP_MemorySuite1& m, AEGP_PluginID id) {
             AEGP_MemHandle h = nullptr;
             m.AEGP_NewMemHandle(id, "probe", 8, AEGP_MemFlag_NONE, &h);
             A_Err err = m.AEGP_UnlockMemHandle(h);
             m.AEGP_FreeMemHandle(h);
             return err;
         },
         A_Err_PARAMETER, "that is not locked"},
        {"owner never registered",
         [](const AEGP_MemorySuite1& m, AEGP_PluginID id) {
             AEGP_MemHandle h = nullptr;
             A_Err err = m.AEGP_NewMemHandle(id + 1000, "stray", 8, AEGP_MemFlag_NONE, &h);
             m.AEGP_FreeMemHandle(h);
             return err;
         },
         A_Err_NONE, "unregistered plug-in ID"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AEGP_MemorySuite1& memory = acquireMemory(host());
        EXPECT_EQ(c.misuse(memory, host().pluginId()), c.result);
        releaseMemory(host());
        EXPECT_TRUE(reported(host(), c.report));
        EXPECT_EQ(host().liveHandles(), 0u);
        host().clearErrors();
    }
}

TEST_F(HostChecks, SuiteLeftAcquiredIsReported)
{
    AEIO_OutSpecH out = newOutput();
    const void* suite = nullptr;
    ASSERT_EQ(host().basicData()->pica_basicP->AcquireSuite(kAEGPIOOutSuite, 7, &suite), A_Err_NONE);
    AEIO_SupportedDepthFlags depth = 0;
    EXPECT_EQ(host().getDepths(out, &depth), A_Err_NONE);
    EXPECT_TRUE(reported(host(), "AEIO_GetDepths left suite \"AEGP IO Out Suite\" 7 acquired"));
    host().clearErrors();
    EXPECT_EQ(host().basicData()->pica_basicP->ReleaseSuite(kAEGPIOOutSuite, 7), A_Err_PARAMETER);
    EXPECT_TRUE(reported(host(), "not acquired"));
    host().clearErrors();
}

TEST(HostChecksChild, LeakAtUnloadIsReported)
{
    if (!inChild())
        GTEST_SKIP() << "runs in a process of its own";
    hostsim::Host host;
    ASSERT_TRUE(host.load(ZEMO_MODULE_PATH));
    ASSERT_EQ(host.callEntry(), A_Err_NONE);
    const AEGP_MemorySuite1& memory = acquireMemory(host);
    AEGP_MemHandle h = nullptr;
    ASSERT_EQ(memory.AEGP_NewMemHandle(host.pluginId(), "forgotten", 16, AEGP_MemFlag_NONE, &h), A_Err_NONE);
    releaseMemory(host);
    host.unload();
    EXPECT_TRUE(reported(host, "handle \"forgotten\" (16 bytes) leaked by the module"));
}

TEST(HostChecksProcess, LeakAtUnloadInFreshProcess)
{
    if (inChild())
        GTEST_SKIP();
    EXPECT_EQ(runInChild("HostChecksChild.LeakAtUnloadIsReported"), 0);
}

}  // namespace
}  // namespace hosttest
