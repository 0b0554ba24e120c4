// Suites withheld, members failing, a null basic suite: the error is passed on, every suite released,
// no handle left locked or leaked, no thread left.
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "host_session.h"
#include "platform/platform.h"

namespace hosttest {
namespace {

using zexport::ExportOptions;

struct SuiteId {
    const char* name;
    A_long version;
};
const SuiteId kIOOut{kAEGPIOOutSuite, 7}, kMemory{kAEGPMemorySuite, 1}, kANSI{kPFANSISuite, 1},
    kUtility3{kAEGPUtilitySuite, 3}, kUtility7{kAEGPUtilitySuite, 7}, kRegister{kAEGPRegisterSuite, 6};

// The suite a member the host saw belongs to.
const SuiteId& suiteOf(const std::string& m)
{
    if (m == "strcpy" || m == "AEGP_GetMainHWND" || m == "AEGP_RegisterWithAEGP")
        return m == "strcpy" ? kANSI : m == "AEGP_GetMainHWND" ? kUtility3 : kUtility7;
    return m.rfind("AEGP_Register", 0) == 0 ? kRegister : m.find("MemHandle") != std::string::npos ? kMemory : kIOOut;
}

std::vector<uint8_t> g_pixels(32 * 32 * 4, 0x60);
std::vector<int16_t> g_sound(2 * 800, 7);
std::vector<uint8_t> g_flat;  // out-parameters of the callbacks below
AEIO_Verbiage g_verbiage;
AEIO_SupportedDepthFlags g_depths;
const PF_EffectWorld g_world = [] {
    PF_EffectWorld w{};
    w.width = w.height = 32, w.rowbytes = 32 * 4, w.data = g_pixels.data();
    return w;
}();

using Call = std::function<A_Err(emulated_host::Host&, AEIO_OutSpecH)>;
struct Callback {
    std::string name;
    bool started;  // run on a started job with a few frames on their way, else on a fresh record
    Call call;
    A_Err whenACallFails = 99;  // what a failing host call (99) makes of the result
};

std::vector<Callback> callbacks()
{
    using H = emulated_host::Host&;
    return {
        {"InitOutputSpec", false, [](H h, AEIO_OutSpecH o) { return h.initOutputSpec(o); }},
        {"GetFlatOutputOptions", false, [](H h, AEIO_OutSpecH o) { return h.getFlatOutputOptions(o, &g_flat); }},
        {"DisposeOutputOptions", false, [](H h, AEIO_OutSpecH o) { return h.disposeOutputOptions(o); }},
        {"GetOutputInfo", false, [](H h, AEIO_OutSpecH o) { return h.getOutputInfo(o, &g_verbiage); }},
        {"OutputInfoChanged", false, [](H h, AEIO_OutSpecH o) { return h.outputInfoChanged(o); }},
        {"GetDepths", false, [](H h, AEIO_OutSpecH o) { return h.getDepths(o, &g_depths); }, 1},  // 1 for any failure
        {"UserOptionsDialog", false, [](H h, AEIO_OutSpecH o) { return h.userOptionsDialog(o); }},
        {"StartAdding", false, [](H h, AEIO_OutSpecH o) { return h.startAdding(o); }},
        {"AddFrame", true, [](H h, AEIO_OutSpecH o) { return h.addFrame(o, 0, g_world); }},
        {"AddSoundChunk", true, [](H h, AEIO_OutSpecH o) { return h.addSoundChunk(o, 800, g_sound.data()); }},
        // The end never fails; a record it cannot reach keeps its job, which the output's disposal then finishes.
        {"EndAdding", true, [](H h, AEIO_OutSpecH o) { return h.endAdding(o); }, A_Err_NONE},
    };
}

class Faults : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
#ifndef _WIN32
        // No dialog on a terminal: the module's dialog must not find this program's own.
        host().setMainWindow(window_);
#endif
        // A job, a dialog and a scoped trace first make every lasting thread before the threads are counted.
        SCOPED_TRACE("warming up");
        AEIO_OutSpecH out = prepared(true);
        EXPECT_EQ(host().userOptionsDialog(out), A_Err_NONE);
        finish(out);
        threads_ = testutil::threadCount();
    }
    void TearDown() override
    {
        // A thread ends a little after it is joined.
        for (int i = 0; i < 200 && testutil::threadCount() != threads_; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(testutil::threadCount(), threads_);
#ifndef _WIN32
        host().setMainWindow(nullptr);
        platform::destroyTerminalWindow(window_);
#endif
        HostTest::TearDown();
    }

    // A restored type-1 output with sound writing to a new file; started: with three frames added.
    AEIO_OutSpecH prepared(bool started)
    {
        emulated_host::OutputSettings settings;
        settings.width = settings.height = 32;
        path_ = dir_.file("job" + std::to_string(++jobs_) + ".mov");
        settings.path = platform::utf8ToUtf16(path_);
        AEIO_OutSpecH out = restoredOutput(storedRecord(1), settings);
        if (started) {
            EXPECT_EQ(host().startAdding(out), A_Err_NONE);
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(host().addFrame(out, i, g_world), A_Err_NONE);
        }
        return out;
    }

    // Ends the job the way the host does after a failed callback and checks that nothing was left behind.
    void finish(AEIO_OutSpecH out)
    {
        host().clearFaults();
        EXPECT_EQ(host().endAdding(out), A_Err_NONE);
        EXPECT_EQ(liveView(host().options(out).value_or(zexport::StoredOptions{})).writer, nullptr);
        EXPECT_EQ(host().removeOutput(out), A_Err_NONE);
        EXPECT_EQ(host().liveHandles(), 0u);
        for (const auto& e : host().errors())
            ADD_FAILURE() << "host: " << e;
        host().clearErrors();
    }

#ifdef _WIN32
    DialogCanceller canceller_;
#else
    platform::HWND window_ = platform::makeTerminalWindow(-1, -1);
#endif
    testutil::TempDir dir_;
    std::string path_;
    int jobs_ = 0;
    size_t threads_ = 0;
};

// The entry needs the suites of its members; a failing member ends it with its error, nothing called after it.
TEST_F(Faults, EntryStopsAtAWithheldSuiteOrAFailingCall)
{
    std::set<const SuiteId*> suites;
    for (const std::string& member : g_entryCalls)
        suites.insert(&suiteOf(member));
    EXPECT_EQ(suites.size(), 3u);
    for (const SuiteId* suite : suites)
        for (emulated_host::Withhold how : {emulated_host::Withhold::Error, emulated_host::Withhold::NullSuite}) {
            host().withholdSuite(suite->name, suite->version, how);
            EXPECT_EQ(host().callEntry(115), PF_Err_BAD_CALLBACK_PARAM) << suite->name;
            host().clearFaults();
        }
    for (size_t i = 0; i < g_entryCalls.size(); ++i) {
        if (g_entryCalls[i] == "strcpy")
            continue;  // no error to pass on
        host().clearCalls();
        host().failMember(g_entryCalls[i], 61);
        EXPECT_EQ(host().callEntry(115), 61) << g_entryCalls[i];
        EXPECT_EQ(host().calls(), std::vector<std::string>(g_entryCalls.begin(), g_entryCalls.begin() + long(i) + 1));
        host().clearFaults();
    }
}

// Every callback, run once cleanly to see its host calls, then with a null basic suite, each suite of those
// calls withheld in turn (refused, or granted as null), and each call failing in turn.
TEST_F(Faults, EveryWithheldSuiteAndFailingHostCallIsPassedOnWithoutLeaks)
{
    struct Fault {
        std::string what, member;  // member empty: a suite (or, without one, the basic suite) is withheld
        int k = 0;
        const SuiteId* suite = nullptr;
        emulated_host::Withhold how = emulated_host::Withhold::Error;
    };
    size_t cases = 0;
    for (const Callback& c : callbacks()) {
        AEIO_OutSpecH clean = prepared(c.started);
        host().clearCalls();
        EXPECT_EQ(c.call(host(), clean), A_Err_NONE) << c.name;
        const std::vector<std::string> calls = host().calls();
        finish(clean);
        std::vector<Fault> faults{{" with a null basic suite", ""}};
        std::set<const SuiteId*> suites;
        std::map<std::string, int> seen;
        for (const std::string& member : calls) {
            if (suites.insert(&suiteOf(member)).second)
                for (emulated_host::Withhold how : {emulated_host::Withhold::Error, emulated_host::Withhold::NullSuite})
                    faults.push_back({std::string(" without ") + suiteOf(member).name +
                                          (how == emulated_host::Withhold::Error ? "" : " (null)"),
                                      "", 0, &suiteOf(member), how});
            // Without the main window the dialog would open on this program's own terminal.
            if (member != "AEGP_GetMainHWND")
                faults.push_back({" with call " + std::to_string(seen[member] + 1) + " of " + member + " failing",
                                  member, seen[member]++});
        }
        const bool job = c.started || c.name == "StartAdding";
        for (const Fault& f : faults) {
            const bool withheld = f.member.empty();
            SCOPED_TRACE(c.name + f.what);
            ++cases;
            AEIO_OutSpecH out = prepared(c.started);
            const AEGP_MemHandle handle = host().optionsHandle(out);
            const ExportOptions before = record(out);
            SPBasicSuite* const basic = host().basicData()->pica_basicP;
            if (f.suite)
                host().withholdSuite(f.suite->name, f.suite->version, f.how);
            else if (withheld)
                host().basicData()->pica_basicP = nullptr;
            else
                host().failMember(f.member, 99, f.k);
            const A_Err result = c.call(host(), out);
            host().basicData()->pica_basicP = basic;
            host().clearFaults();
            // A failed unlock or free leaves the handle with the host.
            host().clearLocks();
            host().freeHandles("output path");
            host().freeHandles("flat optionsH");
            // A live record owns its pending list: it goes through the module.
            for (AEGP_MemHandle h : host().orphanedHandles("InitOutputSpec options"))
                EXPECT_EQ(host().functions().AEIO_DisposeOutputOptions(host().basicData(), h), A_Err_NONE);
            EXPECT_EQ(result, withheld               ? PF_Err_BAD_CALLBACK_PARAM
                              : f.member == "strcpy" ? A_Err_NONE
                                                     : c.whenACallFails);
            const ExportOptions after = liveView(host().options(out).value_or(zexport::StoredOptions{}));
            // Nothing happened: the output keeps its record, byte for byte (a failing free of the record
            // InitOutputSpec replaces comes after the new one is installed).
            if (withheld || (!job && !(c.name == "InitOutputSpec" && f.member == "AEGP_FreeMemHandle"))) {
                EXPECT_EQ(host().optionsHandle(out), handle);
                EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
            } else if (!c.started) {
                EXPECT_EQ(after.writer, nullptr);
            } else if (c.name != "EndAdding") {
                EXPECT_EQ(after.writer, before.writer);
                EXPECT_LE(after.framesAdded, before.framesAdded + 1);
            }
            if (c.name == "StartAdding") {
                EXPECT_FALSE(std::filesystem::exists(path_));  // a start that failed leaves no file
            }
            finish(out);
        }
    }
    A_Boolean flag = 0;  // no basic data at all is a null basic suite too
    EXPECT_EQ(host().functions().AEIO_InitOutputSpec(nullptr, prepared(false), &flag), 516);
    EXPECT_GE(cases, 80u);
}

}  // namespace
}  // namespace hosttest
