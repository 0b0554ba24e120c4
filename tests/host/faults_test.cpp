// Error paths: suites the host withholds, members that fail, a null basic
// suite. Whatever fails, every acquired suite is released, no handle stays
// locked and none is leaked (the fixture's TearDown checks all three).
#include <dirent.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

#include "host_session.h"
#include "platform/platform.h"

namespace hosttest {
namespace {

using zexport::ExportOptions;

struct SuiteId {
    const char* name;
    A_long version;
};
const SuiteId kIOOut{kAEGPIOOutSuite, 7};
const SuiteId kMemory{kAEGPMemorySuite, 1};
const SuiteId kANSI{kPFANSISuite, 1};
const SuiteId kUtility3{kAEGPUtilitySuite, 3};

// One callback run against an output that has a live record of type 2.
using Call = std::function<A_Err(hostsim::Host&, AEIO_OutSpecH)>;

struct CallbackCase {
    const char* callback;
    Call call;
    std::vector<SuiteId> suites;  // every suite the callback needs
};

std::vector<CallbackCase> callbackCases()
{
    return {
        {"InitOutputSpec", [](hostsim::Host& h, AEIO_OutSpecH o) { return h.initOutputSpec(o); }, {kIOOut, kMemory}},
        {"GetFlatOutputOptions",
         [](hostsim::Host& h, AEIO_OutSpecH o) {
             std::vector<uint8_t> flat;
             return h.getFlatOutputOptions(o, &flat);
         },
         {kIOOut, kMemory}},
        {"DisposeOutputOptions", [](hostsim::Host& h, AEIO_OutSpecH o) { return h.disposeOutputOptions(o); },
         {kMemory}},
        {"GetOutputInfo",
         [](hostsim::Host& h, AEIO_OutSpecH o) {
             AEIO_Verbiage v{};
             return h.getOutputInfo(o, &v);
         },
         {kANSI, kIOOut, kMemory}},
        {"OutputInfoChanged", [](hostsim::Host& h, AEIO_OutSpecH o) { return h.outputInfoChanged(o); },
         {kIOOut, kMemory}},
        {"GetDepths",
         [](hostsim::Host& h, AEIO_OutSpecH o) {
             AEIO_SupportedDepthFlags d = 0;
             return h.getDepths(o, &d);
         },
         {kIOOut, kMemory}},
        {"UserOptionsDialog", [](hostsim::Host& h, AEIO_OutSpecH o) { return h.userOptionsDialog(o); },
         {kIOOut, kMemory, kUtility3}},
    };
}

using Faults = HostTest;

TEST_F(Faults, EveryWithheldSuiteGives516)
{
    // The dialog must not find a terminal should it get that far.
    platform::HWND pipeWindow = platform::makeTerminalWindow(-1, -1);
    host().setMainWindow(pipeWindow);
    for (const CallbackCase& c : callbackCases()) {
        for (const SuiteId& suite : c.suites) {
            for (hostsim::Withhold how : {hostsim::Withhold::Error, hostsim::Withhold::NullSuite}) {
                SCOPED_TRACE(std::string(c.callback) + " without " + suite.name + " " +
                             std::to_string(suite.version) + (how == hostsim::Withhold::Error ? "" : " (null)"));
                AEIO_OutSpecH out = restoredOutput(storedRecord(2));
                ExportOptions before = record(out);
                host().withholdSuite(suite.name, suite.version, how);
                EXPECT_EQ(c.call(host(), out), PF_Err_BAD_CALLBACK_PARAM);
                host().clearFaults();
                ExportOptions after = record(out);
                EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
                EXPECT_EQ(host().removeOutput(out), A_Err_NONE);
                EXPECT_EQ(host().liveHandles(), 0u);
                for (const auto& e : host().errors())
                    ADD_FAILURE() << "host: " << e;
                host().clearErrors();
            }
        }
    }
    host().setMainWindow(nullptr);
    platform::destroyTerminalWindow(pipeWindow);
}

TEST_F(Faults, EntryWithoutASuiteGives516)
{
    const SuiteId entrySuites[] = {{kAEGPRegisterSuite, 6}, {kPFANSISuite, 1}, {kAEGPUtilitySuite, 7}};
    for (const SuiteId& suite : entrySuites) {
        for (hostsim::Withhold how : {hostsim::Withhold::Error, hostsim::Withhold::NullSuite}) {
            SCOPED_TRACE(suite.name);
            host().withholdSuite(suite.name, suite.version, how);
            EXPECT_EQ(host().callEntry(115), PF_Err_BAD_CALLBACK_PARAM);
            host().clearFaults();
        }
    }
}

TEST_F(Faults, FailedRegistrationCallStopsTheEntry)
{
    struct Case {
        const char* member;
        std::vector<std::string> calls;  // what the host sees, the failing call last
    };
    const Case cases[] = {
        {"AEGP_RegisterDeathHook", {"AEGP_RegisterDeathHook"}},
        {"AEGP_RegisterIO", {"AEGP_RegisterDeathHook", "strcpy", "AEGP_RegisterIO"}},
        {"AEGP_RegisterWithAEGP", {"AEGP_RegisterDeathHook", "strcpy", "AEGP_RegisterIO", "AEGP_RegisterWithAEGP"}},
    };
    for (const Case& c : cases) {
        host().clearCalls();
        host().failMember(c.member, 61);
        EXPECT_EQ(host().callEntry(115), 61) << c.member;
        EXPECT_EQ(host().calls(), c.calls) << c.member;
        host().clearFaults();
    }
}

TEST_F(Faults, NullBasicSuiteGives516)
{
    AEIO_OutSpecH out = restoredOutput(storedRecord(2));
    AEIO_BasicData nullBasic{nullptr, 0, nullptr};
    const AEIO_FunctionBlock4& f = host().functions();
    A_Boolean flag = 0;
    AEIO_Handle flat = nullptr;
    AEIO_Verbiage v{};
    AEIO_SupportedDepthFlags depth = 0;
    EXPECT_EQ(f.AEIO_InitOutputSpec(&nullBasic, out, &flag), 516);
    EXPECT_EQ(f.AEIO_GetFlatOutputOptions(&nullBasic, out, &flat), 516);
    EXPECT_EQ(f.AEIO_DisposeOutputOptions(&nullBasic, host().optionsHandle(out)), 516);
    EXPECT_EQ(f.AEIO_GetOutputInfo(&nullBasic, out, &v), 516);
    EXPECT_EQ(f.AEIO_OutputInfoChanged(&nullBasic, out), 516);
    EXPECT_EQ(f.AEIO_GetDepths(&nullBasic, out, &depth), 516);
    EXPECT_EQ(f.AEIO_UserOptionsDialog(&nullBasic, out, nullptr, &flag), 516);
    EXPECT_EQ(f.AEIO_InitOutputSpec(nullptr, out, &flag), 516);
}

TEST_F(Faults, FailingMembersArePassedOnWithoutLeaks)
{
    struct Case {
        const char* callback;
        const char* member;
        A_Err expected;  // 99 is the injected error
        bool recordKept;  // the output still has its original record
    };
    const Case cases[] = {
        {"InitOutputSpec", "AEGP_GetOutSpecOptionsHandle", 99, true},
        {"InitOutputSpec", "AEGP_NewMemHandle", 99, true},
        {"InitOutputSpec", "AEGP_LockMemHandle", 99, true},
        {"InitOutputSpec", "AEGP_SetOutSpecOptionsHandle", 99, true},
        {"GetFlatOutputOptions", "AEGP_NewMemHandle", 99, true},
        {"GetFlatOutputOptions", "AEGP_LockMemHandle", 99, true},
        {"GetOutputInfo", "AEGP_GetOutSpecOptionsHandle", 99, true},
        {"GetOutputInfo", "AEGP_LockMemHandle", 99, true},
        {"OutputInfoChanged", "AEGP_GetOutSpecAlphaLabel", 99, true},
        {"OutputInfoChanged", "AEGP_LockMemHandle", 99, true},
        {"GetDepths", "AEGP_LockMemHandle", 1, true},
        {"GetDepths", "AEGP_SetOutSpecOptionsHandle", 1, true},
        {"GetDepths", "AEGP_GetOutSpecOptionsHandle", 1, true},
        {"UserOptionsDialog", "AEGP_LockMemHandle", 99, true},
        {"UserOptionsDialog", "AEGP_GetOutSpecOptionsHandle", 99, true},
        {"DisposeOutputOptions", "AEGP_FreeMemHandle", 99, true},
    };
    platform::HWND pipeWindow = platform::makeTerminalWindow(-1, -1);
    host().setMainWindow(pipeWindow);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.callback) + " with " + c.member + " failing");
        AEIO_OutSpecH out = restoredOutput(storedRecord(2));
        AEGP_MemHandle original = host().optionsHandle(out);
        ExportOptions before = record(out);
        host().failMember(c.member, 99);
        for (const CallbackCase& cb : callbackCases()) {
            if (std::string(cb.callback) == c.callback) {
                EXPECT_EQ(cb.call(host(), out), c.expected);
            }
        }
        host().clearFaults();
        if (c.recordKept) {
            EXPECT_EQ(host().optionsHandle(out), original);
            ExportOptions after = record(out);
            EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
        }
        EXPECT_EQ(host().removeOutput(out), A_Err_NONE);
        EXPECT_EQ(host().liveHandles(), 0u);
        for (const auto& e : host().errors())
            ADD_FAILURE() << "host: " << e;
        host().clearErrors();
    }
    host().setMainWindow(nullptr);
    platform::destroyTerminalWindow(pipeWindow);
}

// ------------------------------------------------------------ export job

size_t threadCount()
{
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// One export callback, run on an output whose job is in the state the
// callback expects: not started for StartAdding, started (with a few frames
// on their way) for the others.
struct JobCase {
    const char* callback;
    bool started;
    Call call;
    A_Err whenACallFails = 99;  // what a failing host call (99) makes of the result
};

std::vector<uint8_t> g_pixels(32 * 32 * 4, 0x60);
std::vector<int16_t> g_sound(2 * 800, 7);

PF_EffectWorld smallWorld()
{
    PF_EffectWorld w{};
    w.width = 32;
    w.height = 32;
    w.rowbytes = 32 * 4;
    w.data = g_pixels.data();
    return w;
}

std::vector<JobCase> jobCases()
{
    return {
        {"StartAdding", false, [](hostsim::Host& h, AEIO_OutSpecH o) { return h.startAdding(o); }},
        {"AddFrame", true, [](hostsim::Host& h, AEIO_OutSpecH o) { return h.addFrame(o, 0, smallWorld()); }},
        {"AddSoundChunk", true,
         [](hostsim::Host& h, AEIO_OutSpecH o) { return h.addSoundChunk(o, 800, g_sound.data()); }},
        // The end never fails; a record it cannot reach keeps its job, which
        // the output's disposal then finishes.
        {"EndAdding", true, [](hostsim::Host& h, AEIO_OutSpecH o) { return h.endAdding(o); }, A_Err_NONE},
    };
}

// The job's callbacks and the options callbacks (GetDepths answers 1 for
// any failure).
std::vector<JobCase> everyCallback()
{
    std::vector<JobCase> cases = jobCases();
    for (const CallbackCase& c : callbackCases())
        cases.push_back({c.callback, false, c.call, std::string(c.callback) == "GetDepths" ? A_Err(1) : A_Err(99)});
    return cases;
}

class CallFaults : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        dir_ = std::filesystem::temp_directory_path() / ("zemo3-faults-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        // One job first: the worker pool and FFmpeg's lazily made state exist
        // before the threads are counted.
        AEIO_OutSpecH out = prepared(false);
        EXPECT_EQ(host().startAdding(out), A_Err_NONE);
        EXPECT_EQ(host().addFrame(out, 0, smallWorld()), A_Err_NONE);
        EXPECT_EQ(host().endAdding(out), A_Err_NONE);
        EXPECT_EQ(host().removeOutput(out), A_Err_NONE);
        threads_ = threadCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(threadCount(), threads_);
        std::filesystem::remove_all(dir_);
        HostTest::TearDown();
    }

    // A restored type-1 output with sound writing to a new file of dir_.
    AEIO_OutSpecH prepared(bool started)
    {
        hostsim::OutputSettings settings;
        settings.width = 32;
        settings.height = 32;
        path_ = dir_ / ("job" + std::to_string(++jobs_) + ".mov");
        settings.path = platform::utf8ToUtf16(path_.string());
        AEIO_OutSpecH out = restoredOutput(storedRecord(1), settings);
        if (started) {
            EXPECT_EQ(host().startAdding(out), A_Err_NONE);
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(host().addFrame(out, i, smallWorld()), A_Err_NONE);
        }
        return out;
    }

    // Ends the job the way the host does after a failed callback and checks
    // that nothing was left behind.
    void finish(AEIO_OutSpecH out)
    {
        host().clearFaults();
        EXPECT_EQ(host().endAdding(out), A_Err_NONE);
        if (auto after = host().options(out)) {
            EXPECT_EQ(after->writer, nullptr);
        }
        EXPECT_EQ(host().removeOutput(out), A_Err_NONE);
        EXPECT_EQ(host().liveHandles(), 0u);
        for (const auto& e : host().errors())
            ADD_FAILURE() << "host: " << e;
        host().clearErrors();
    }

    std::filesystem::path dir_, path_;
    int jobs_ = 0;
    size_t threads_ = 0;
};

TEST_F(CallFaults, EveryWithheldSuiteGives516AndInstallsNothing)
{
    for (const JobCase& c : jobCases()) {
        for (const SuiteId& suite : {kIOOut, kMemory}) {
            for (hostsim::Withhold how : {hostsim::Withhold::Error, hostsim::Withhold::NullSuite}) {
                SCOPED_TRACE(std::string(c.callback) + " without " + suite.name +
                             (how == hostsim::Withhold::Error ? "" : " (null)"));
                AEIO_OutSpecH out = prepared(c.started);
                ExportOptions before = record(out);
                host().withholdSuite(suite.name, suite.version, how);
                EXPECT_EQ(c.call(host(), out), PF_Err_BAD_CALLBACK_PARAM);
                host().clearFaults();
                ExportOptions after = record(out);
                EXPECT_EQ(after.writer, before.writer);
                EXPECT_EQ(after.framesAdded, before.framesAdded);
                EXPECT_EQ(after.samplesAdded, before.samplesAdded);
                if (!c.started) {
                    EXPECT_FALSE(std::filesystem::exists(path_));
                }
                finish(out);
            }
        }
    }
}

TEST_F(CallFaults, EveryFailingHostCallIsPassedOnWithoutLeaks)
{
    platform::HWND pipeWindow = platform::makeTerminalWindow(-1, -1);  // no dialog on a terminal
    host().setMainWindow(pipeWindow);
    size_t cases = 0;
    for (const JobCase& c : everyCallback()) {
        // The host calls this callback makes, as the host sees them in a
        // clean run; each call fails in turn (the k-th call of its member).
        std::map<std::string, int> calls;
        {
            AEIO_OutSpecH out = prepared(c.started);
            host().clearCalls();
            EXPECT_EQ(c.call(host(), out), A_Err_NONE) << c.callback;
            for (const std::string& member : host().calls())
                ++calls[member];
            finish(out);
        }
        EXPECT_GE(calls.size(), 1u) << c.callback;
        const bool job = std::string(c.callback).find("Adding") != std::string::npos;
        const bool ending = std::string(c.callback) == "EndAdding";
        for (const auto& [member, count] : calls) {
            // Without the main window the dialog would open on this
            // program's own terminal, when it has one.
            if (member == "AEGP_GetMainHWND")
                continue;
            for (int k = 0; k < count; ++k) {
                SCOPED_TRACE(std::string(c.callback) + " with call " + std::to_string(k + 1) + " of " + member +
                             " failing");
                ++cases;
                AEIO_OutSpecH out = prepared(c.started);
                ExportOptions before = record(out);
                host().failMember(member, 99, k);
                const A_Err result = c.call(host(), out);
                host().clearFaults();
                // A failed unlock or free leaves the handle with the host.
                host().clearLocks();
                host().freeHandles("output path");
                host().freeHandles("stored options");
                host().freeHandles("flat optionsH");
                // A live record owns its pending list: it goes through the module.
                for (AEGP_MemHandle h : host().orphanedHandles("InitOutputSpec options"))
                    EXPECT_EQ(host().functions().AEIO_DisposeOutputOptions(host().basicData(), h), A_Err_NONE);
                // strcpy has no error to pass on.
                EXPECT_EQ(result, member == "strcpy" ? A_Err_NONE : c.whenACallFails);
                const ExportOptions after = host().options(out).value_or(ExportOptions{});
                if (!job) {
                    // The options callbacks' own checks are above (Faults.*).
                } else if (!c.started) {
                    // A start that failed leaves no writer and no file.
                    EXPECT_EQ(after.writer, nullptr);
                    EXPECT_FALSE(std::filesystem::exists(path_));
                } else if (!ending) {
                    EXPECT_EQ(after.writer, before.writer);
                    EXPECT_LE(after.framesAdded, before.framesAdded + 1);
                }
                finish(out);
            }
        }
    }
    EXPECT_GE(cases, 40u);
    std::printf("%zu host calls failed in turn\n", cases);
    host().setMainWindow(nullptr);
    platform::destroyTerminalWindow(pipeWindow);
}

}  // namespace
}  // namespace hosttest
