#include "host_session.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>

extern char** environ;

namespace hosttest {

namespace {

std::unique_ptr<hostsim::Host> g_session;
std::vector<std::string> g_entryCalls;

class SessionEnvironment : public ::testing::Environment {
public:
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

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new SessionEnvironment);

}  // namespace

hostsim::Host& session()
{
    if (!g_session) {
        g_session = std::make_unique<hostsim::Host>();
        std::string error;
        if (!g_session->load(ZEMO_MODULE_PATH, &error))
            throw std::runtime_error("cannot load the module: " + error);
        if (g_session->callEntry() != A_Err_NONE)
            throw std::runtime_error("the module did not register");
        g_entryCalls = g_session->calls();
    }
    return *g_session;
}

const std::vector<std::string>& sessionEntryCalls()
{
    session();
    return g_entryCalls;
}

void HostTest::SetUp()
{
    host_ = &session();
    host_->clearFaults();
    host_->clearErrors();
    host_->clearCalls();
}

void HostTest::TearDown()
{
    host_->clearFaults();
    host_->closeProject();
    for (const auto& e : host_->errors())
        ADD_FAILURE() << "host: " << e;
    for (const auto& h : host_->allHandles())
        ADD_FAILURE() << "handle \"" << h.label << "\" still alive";
}

AEIO_OutSpecH HostTest::newOutput(const hostsim::OutputSettings& settings)
{
    AEIO_OutSpecH out = host().addOutput(settings);
    bool interacted = false;
    EXPECT_EQ(host().initOutputSpec(out, &interacted), A_Err_NONE);
    EXPECT_TRUE(interacted);
    return out;
}

AEIO_OutSpecH HostTest::restoredOutput(const zexport::ExportOptions& stored, const hostsim::OutputSettings& settings)
{
    std::vector<uint8_t> bytes = bytesOf(stored);
    AEIO_OutSpecH out = host().addOutput(settings, &bytes);
    EXPECT_EQ(host().initOutputSpec(out), A_Err_NONE);
    return out;
}

zexport::ExportOptions HostTest::record(AEIO_OutSpecH out)
{
    auto r = host().options(out);
    EXPECT_TRUE(r.has_value());
    return r.value_or(zexport::ExportOptions{});
}

zexport::ExportOptions storedRecord(uint32_t formatType, uint8_t alphaType)
{
    zexport::ExportOptions r{};
    r.flattened = 1;
    r.formatType = formatType;
    r.alphaType = alphaType;
    return r;
}

std::vector<uint8_t> bytesOf(const zexport::ExportOptions& record)
{
    std::vector<uint8_t> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

bool inChild()
{
    return std::getenv("ZEMO_HOST_TEST_CHILD") != nullptr;
}

int runInChild(const std::string& testName)
{
    std::string filter = "--gtest_filter=" + testName;
    char self[] = "/proc/self/exe";
    std::vector<char*> argv{self, filter.data(), nullptr};
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.emplace_back("ZEMO_HOST_TEST_CHILD=1");
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, self, nullptr, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Pty::Pty()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (slave_ < 0)
        throw std::runtime_error("cannot open the pseudo-terminal's slave");
    reader_ = std::thread([this] {
        char buffer[4096];
        for (;;) {
            ssize_t n = read(master_, buffer, sizeof buffer);
            if (n <= 0)
                break;  // EIO once the slave side is closed
            std::lock_guard<std::mutex> guard(lock_);
            output_.append(buffer, size_t(n));
            changed_.notify_all();
        }
        std::lock_guard<std::mutex> guard(lock_);
        done_ = true;
        changed_.notify_all();
    });
}

Pty::~Pty()
{
    finish();
    close(master_);
}

void Pty::send(const std::string& keys)
{
    ASSERT_EQ(write(master_, keys.data(), keys.size()), ssize_t(keys.size()));
}

bool Pty::waitFor(const std::string& text)
{
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(10),
                             [&] { return output_.find(text) != std::string::npos || done_; }) &&
           output_.find(text) != std::string::npos;
}

std::string Pty::output()
{
    std::lock_guard<std::mutex> guard(lock_);
    return output_;
}

void Pty::finish()
{
    if (slave_ >= 0) {
        close(slave_);
        slave_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
}

std::vector<std::string> lastFrame(const std::string& output)
{
    // Every redraw starts by moving the cursor back up: "ESC [ n F".
    size_t start = 0;
    for (size_t i = output.find("\x1b["); i != std::string::npos; i = output.find("\x1b[", i + 2)) {
        size_t j = i + 2;
        while (j < output.size() && isdigit(static_cast<unsigned char>(output[j])))
            ++j;
        if (j < output.size() && output[j] == 'F' && j > i + 2)
            start = j + 1;
    }
    std::string text;
    for (size_t i = start; i < output.size(); ++i) {
        if (output[i] == '\x1b' && i + 1 < output.size() && output[i + 1] == '[') {
            i += 2;
            while (i < output.size() && !isalpha(static_cast<unsigned char>(output[i])))
                ++i;
            continue;
        }
        text += output[i];
    }
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", from)) {
        lines.push_back(text.substr(from, at - from));
        from = at + 2;
    }
    return lines;
}

}  // namespace hosttest
