// Error paths: suites the host withholds, members that fail, a null basic
// suite. Whatever fails, every acquired suite is released, no handle stays
// locked and none is leaked (the fixture's TearDown checks all three).
#include <functional>

#include "host_session.h"

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

}  // namespace
}  // namespace hosttest
