// Shared by the host tests: one emulated host with the module loaded and
// registered per test process, a fixture that checks the host saw no misuse,
// a pseudo-terminal, and a way to run a test in a fresh process.
//
// The module is registered once per process on purpose: a successful entry
// creates the core context, which lives until the process ends.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/options.h"
#include "hostsim/host.h"

namespace hosttest {

// The process's host: loaded and registered on first use, unloaded (death
// hook, leak check) when the test program ends.
hostsim::Host& session();
// Member calls the host saw during the session's entry.
const std::vector<std::string>& sessionEntryCalls();

class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Closes the project and expects no host-side errors and no handle left.
    void TearDown() override;
    hostsim::Host& host() { return *host_; }

    // A new output module with a live options record (InitOutputSpec).
    AEIO_OutSpecH newOutput(const hostsim::OutputSettings& settings = {});
    // A new output module restored from a stored record.
    AEIO_OutSpecH restoredOutput(const zexport::ExportOptions& stored, const hostsim::OutputSettings& settings = {});
    zexport::ExportOptions record(AEIO_OutSpecH out);

    hostsim::Host* host_ = nullptr;
};

// A stored (flattened) record with the given format type.
zexport::ExportOptions storedRecord(uint32_t formatType, uint8_t alphaType = 3);
std::vector<uint8_t> bytesOf(const zexport::ExportOptions& record);

// True in the child started by runInChild; tests meant only for the child
// skip themselves otherwise.
bool inChild();
// Runs the named test of this program in a new process and returns its exit
// status (0 when the test passed).
int runInChild(const std::string& testName);

// A pseudo-terminal whose output is collected on a thread of its own.
class Pty {
public:
    Pty();
    ~Pty();
    int slave() const { return slave_; }
    void send(const std::string& keys);
    // Waits until the collected output contains text; false after 10 s.
    bool waitFor(const std::string& text);
    // Everything written so far.
    std::string output();
    // Closes the slave side and waits for the collector to finish.
    void finish();

private:
    int master_ = -1, slave_ = -1;
    std::thread reader_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::string output_;
    bool done_ = false;
};

// The last complete picture the terminal front end drew: escape sequences
// removed, one string per line.
std::vector<std::string> lastFrame(const std::string& output);

}  // namespace hosttest
