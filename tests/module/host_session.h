// Shared by the host tests: one emulated host per test process with the module
// loaded and registered (a successful entry creates the core context, which
// lives until the process ends), a fixture that checks the host saw no misuse,
// and a way to run a test in a fresh process.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/util.h"
#include "emulated_host/host.h"
#include "export_options.h"

namespace hosttest {

inline std::unique_ptr<emulated_host::Host> g_session;
inline std::vector<std::string> g_entryCalls;  // member calls the host saw during the session's entry

// Unloads the session when the program ends: the death hook runs, no handle may be left.
struct SessionEnd : ::testing::Environment {
    void TearDown() override
    {
        if (!g_session)
            return;
        g_session->unload();
        EXPECT_EQ(g_session->deathHookResult(), A_Err_NONE);
        for (const auto& e : g_session->errors())
            ADD_FAILURE() << "host: " << e;
        g_session.reset();
    }
};
inline ::testing::Environment* const g_sessionEnd = ::testing::AddGlobalTestEnvironment(new SessionEnd);

inline emulated_host::Host& session()
{
    if (!g_session) {
        g_session = std::make_unique<emulated_host::Host>();
        std::string error;
        if (!g_session->load(ZEMO_MODULE_PATH, &error) || g_session->callEntry() != A_Err_NONE)
            throw std::runtime_error("the module did not load or register: " + error);
        g_entryCalls = g_session->calls();
    }
    return *g_session;
}

// The record the host holds as the module reads it, its job's state included.
inline zexport::ExportOptions liveView(const zexport::StoredOptions& held)
{
    zexport::ExportOptions record;
    std::memcpy(&record, &held, sizeof record);
    return record;
}

// A stored (flattened) record with the given format type.
inline zexport::ExportOptions storedRecord(uint32_t formatType, uint8_t alphaType = 3)
{
    return liveView(zexport::storedOptions(formatType, alphaType));
}

inline std::vector<uint8_t> bytesOf(const zexport::ExportOptions& record)
{
    std::vector<uint8_t> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

class HostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host_ = &session();
        host_->clearFaults();
        host_->clearErrors();
        host_->clearCalls();
    }
    // Closes the project and expects no host-side errors and no handle left.
    void TearDown() override
    {
        host_->clearFaults();
        host_->closeProject();
        for (const auto& e : host_->errors())
            ADD_FAILURE() << "host: " << e;
        for (const auto& h : host_->allHandles())
            ADD_FAILURE() << "handle \"" << h.label << "\" still alive";
    }
    emulated_host::Host& host() { return *host_; }

    // A new output module restored from a stored record (InitOutputSpec run).
    AEIO_OutSpecH restoredOutput(const zexport::ExportOptions& stored,
                                 const emulated_host::OutputSettings& settings = {})
    {
        std::vector<uint8_t> bytes = bytesOf(stored);
        AEIO_OutSpecH out = host().addOutput(settings, &bytes);
        EXPECT_EQ(host().initOutputSpec(out), A_Err_NONE);
        return out;
    }
    zexport::ExportOptions record(AEIO_OutSpecH out) { return liveView(host().options(out).value()); }

    emulated_host::Host* host_ = nullptr;
};

// True in the child started by runInChild; tests meant only for it skip themselves otherwise.
inline bool inChild()
{
    const char* child = std::getenv("ZEMO_HOST_TEST_CHILD");
    return child && *child == '1';
}

// Runs the named test of this program in a new process; its exit status (0 when it passed).
inline int runInChild(const std::string& test)
{
    return testutil::run({{"ZEMO_HOST_TEST_CHILD", "1"}}, testutil::self() + " --gtest_filter=" + test).code;
}

#ifdef _WIN32
// A user who cancels every options dialog as soon as it is shown: a modal
// dialog would otherwise wait for one forever.
class DialogCanceller {
public:
    DialogCanceller()
        : thread_([this] {
              for (; !done_; Sleep(5))
                  if (HWND dialog = FindWindowW(L"#32770", L"Zemo 3 Format Options"))
                      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
          })
    {
    }
    ~DialogCanceller()
    {
        done_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};
#endif

}  // namespace hosttest
