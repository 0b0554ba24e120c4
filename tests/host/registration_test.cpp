// The entry: what the host receives, version checks, stubs, the death hook.
#include <dirent.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "host_session.h"
#include "resources/resources.h"

namespace hosttest {
namespace {

using Registration = HostTest;

TEST_F(Registration, CallsRegistrationMembersInOrder)
{
    EXPECT_EQ(sessionEntryCalls(), (std::vector<std::string>{"AEGP_RegisterDeathHook", "strcpy", "AEGP_RegisterIO",
                                                              "AEGP_RegisterWithAEGP"}));
    EXPECT_TRUE(host().deathHookRegistered());
    EXPECT_TRUE(host().ioRegistered());
    EXPECT_EQ(host().pluginName(), "Zemo 3");
    EXPECT_NE(host().pluginId(), 0);
}

TEST_F(Registration, ModuleInfoIsZeroExceptItsFields)
{
    AEIO_ModuleInfo expected;
    std::memset(&expected, 0, sizeof expected);
    expected.sig = 0x4D4F565F;
    std::strcpy(expected.name, "Zemo 3");
    expected.flags = 0x8000076;
    expected.max_width = 0x7FFFFFFF;
    expected.max_height = 0x7FFFFFFF;
    expected.num_filetypes = 1;
    expected.num_extensions = 1;
    expected.create_kind.mac.type = 0x4D4F565F;
    expected.create_kind.mac.creator = 0x20202020;
    std::memcpy(expected.create_ext.ext.extension, ".mov", 4);
    expected.read_kinds[0].mac.type = 0x4D4F565F;
    expected.read_kinds[0].mac.creator = 0xFFFFFFFF;
    std::memcpy(expected.read_kinds[1].ext.extension, ".mov", 4);
    const AEIO_ModuleInfo& info = host().moduleInfo();
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0);
    EXPECT_STREQ(info.name, "Zemo 3");
    EXPECT_EQ(std::string(info.create_ext.ext.extension, 4), ".mov");
    EXPECT_EQ(std::string(info.read_kinds[1].ext.extension, 4), ".mov");
}

TEST_F(Registration, FunctionBlockHasExactlyTheNineteenSlots)
{
    const auto* slots = reinterpret_cast<void* const*>(&host().functions());
    const std::vector<size_t> expected{14, 15, 16, 17, 18, 19, 20, 21, 22, 23,
                                       25, 26, 27, 28, 29, 30, 31, 41, 43};
    std::vector<size_t> set;
    for (size_t i = 0; i < kFunctionBlockSlots; ++i)
        if (slots[i])
            set.push_back(i);
    EXPECT_EQ(set, expected);
}

TEST_F(Registration, StubsAnswerWhateverTheArguments)
{
    const AEIO_FunctionBlock4& f = host().functions();
    auto* junkBasic = reinterpret_cast<AEIO_BasicData*>(uintptr_t(0x10));
    auto junkOut = reinterpret_cast<AEIO_OutSpecH>(uintptr_t(0x20));
    for (AEIO_BasicData* basic : {static_cast<AEIO_BasicData*>(nullptr), junkBasic, host().basicData()}) {
        for (AEIO_OutSpecH out : {static_cast<AEIO_OutSpecH>(nullptr), junkOut}) {
            EXPECT_EQ(f.AEIO_SetOutputFile(basic, out, nullptr), 9992);
            EXPECT_EQ(f.AEIO_SetOutputFile(basic, out, u"/tmp/x.mov"), 9992);
            EXPECT_EQ(f.AEIO_WriteLabels(basic, out, nullptr), 9992);
            EXPECT_EQ(f.AEIO_GetSizes(basic, out, nullptr, nullptr), 9992);
            EXPECT_EQ(f.AEIO_GetOutputSuffix(basic, out, nullptr), 9992);
            EXPECT_EQ(f.AEIO_Flush(basic, out), 0);
            EXPECT_EQ(f.AEIO_Idle(basic, 0xFFFFFFFF, nullptr), 0);
            EXPECT_EQ(f.AEIO_SetUserData(basic, out, 7, 9, nullptr), 0);
            EXPECT_EQ(f.AEIO_AddMarker(basic, out, -1, nullptr, nullptr), 0);
        }
    }
    EXPECT_TRUE(host().calls().empty());
}

TEST_F(Registration, HostVersionBelow115RegistersNothing)
{
    struct Case {
        A_long major;
        A_Err result;
    };
    // 115 itself is the session's entry; a second successful entry would
    // start a second core context, so only the refusals are repeated here.
    for (Case c : {Case{114, 1}, Case{0, 1}, Case{-1, 1}}) {
        host().clearCalls();
        EXPECT_EQ(host().callEntry(c.major), c.result) << c.major;
        EXPECT_TRUE(host().calls().empty()) << c.major;
    }
}

TEST(PiPL, ExactBytes)
{
    const std::string expected = std::string("\x01\x00" "\x00\x00\x00\x00" "\x05\x00\x00\x00", 10) +
                                 std::string("MIB8dnik\0\0\0\0\x04\0\0\0xgEA", 20) +
                                 std::string("MIB8eman\0\0\0\0\x07\0\0\0\x06Zemo 3\0", 24) +
                                 std::string("MIB8gtac\0\0\0\0\x0f\0\0\0\x0eGeneral Plugin\0", 32) +
                                 std::string("MIB8srev\0\0\0\0\x04\0\0\0\0\0\x01\0", 20) +
                                 std::string("MIB84668\0\0\0\0\x0f\0\0\0EntryPointFunc\0\0", 32);
    std::vector<uint8_t> pipl = zexport::resources::piplResource();
    EXPECT_EQ(std::string(pipl.begin(), pipl.end()), expected);
    EXPECT_EQ(zexport::resources::kPiPLResourceId, 16000);
}

TEST(Resources, VersionStrings)
{
    const auto& v = zexport::resources::versionStrings();
    EXPECT_STREQ(v.fileDescription, "Zemo 3 Exporter plug-in using additions to the AEGP API.");
    EXPECT_STREQ(v.fileVersion, "1, 0, 0, 1");
    EXPECT_STREQ(v.internalName, "Zemo3");
}

TEST(Resources, OptionsDialogTemplate)
{
    const platform::DialogTemplate& t = zexport::resources::optionsDialogTemplate();
    EXPECT_EQ(std::u16string(t.caption), u"Zemo 3 Format Options");
    EXPECT_EQ(std::u16string(t.font), u"MS Shell Dlg");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.weight, 400);
    EXPECT_EQ(t.charset, 1);
    EXPECT_EQ(t.style, 0x80C808C8u);
    EXPECT_EQ(t.exStyle, 0x80u);
    EXPECT_EQ((std::vector<int>{t.x, t.y, t.cx, t.cy}), (std::vector<int>{0, 0, 171, 75}));
    struct Item {
        int id;
        std::string windowClass;
        std::u16string text;
        uint32_t style;
        std::vector<int> rect;
    };
    const Item expected[] = {
        {1, "button", u"OK", 0x50010001, {7, 52, 35, 14}},
        {2, "button", u"Cancel", 0x50010000, {45, 52, 50, 14}},
        {3, "combobox", u"", 0x50210003, {7, 22, 117, 14}},
        {1005, "static", u"Compression", 0x50020200, {7, 7, 48, 12}},
        {1004, "static", u"0.0.0", 0x50020202, {99, 54, 64, 12}},
    };
    ASSERT_EQ(t.itemCount, std::size(expected));
    for (size_t i = 0; i < t.itemCount; ++i) {
        const platform::DialogItemTemplate& item = t.items[i];
        SCOPED_TRACE(expected[i].id);
        EXPECT_EQ(item.id, expected[i].id);
        EXPECT_EQ(item.windowClass, expected[i].windowClass);
        EXPECT_EQ(std::u16string(item.text ? item.text : u""), expected[i].text);
        EXPECT_EQ(item.style, expected[i].style);
        EXPECT_EQ((std::vector<int>{item.x, item.y, item.cx, item.cy}), expected[i].rect);
    }
}

// ---- The death hook, in processes of their own --------------------------

// Threads of this process, as the kernel lists them.
size_t threadCount()
{
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// Waits until the thread count satisfies the predicate (threads end a little
// after they are joined); false after 5 s.
template <typename Predicate>
bool waitForThreads(Predicate ok)
{
    for (int i = 0; i < 500 && !ok(threadCount()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ok(threadCount());
}

TEST(DeathHookChild, WithContextStopsTheWorkers)
{
    if (!inChild())
        GTEST_SKIP() << "runs in a process of its own";
    size_t before = threadCount();
    hostsim::Host host;
    ASSERT_TRUE(host.load(ZEMO_MODULE_PATH));
    ASSERT_EQ(host.callEntry(115), A_Err_NONE);
    // The bring-up started the system monitor and max(P, 4) - 2 workers
    // (a sanitizer may add a thread of its own, hence "at least").
    long p = sysconf(_SC_NPROCESSORS_ONLN);
    size_t workers = size_t(std::max(p, 4L) - 2);
    EXPECT_TRUE(waitForThreads([&](size_t n) { return n >= before + 1 + workers; })) << threadCount();
    size_t up = threadCount();
    host.unload();
    EXPECT_EQ(host.deathHookResult(), A_Err_NONE);
    // The workers are gone; the system monitor stays until the process ends.
    EXPECT_TRUE(waitForThreads([&](size_t n) { return n == up - workers; })) << threadCount();
    EXPECT_GE(threadCount(), before + 1);
    EXPECT_TRUE(host.errors().empty());
}

TEST(DeathHookChild, WithoutContextDoesNothing)
{
    if (!inChild())
        GTEST_SKIP() << "runs in a process of its own";
    size_t before = threadCount();
    hostsim::Host host;
    ASSERT_TRUE(host.load(ZEMO_MODULE_PATH));
    // Registration stops at the output module: the core is never started.
    host.failMember("AEGP_RegisterIO", 42);
    EXPECT_EQ(host.callEntry(115), 42);
    EXPECT_TRUE(host.deathHookRegistered());
    EXPECT_TRUE(host.pluginName().empty());
    EXPECT_EQ(threadCount(), before);
    host.unload();
    EXPECT_EQ(host.deathHookResult(), A_Err_NONE);
    EXPECT_EQ(threadCount(), before);
    EXPECT_TRUE(host.errors().empty());
}

TEST(DeathHook, RunsInFreshProcesses)
{
    if (inChild())
        GTEST_SKIP();
    EXPECT_EQ(runInChild("DeathHookChild.WithContextStopsTheWorkers"), 0);
    EXPECT_EQ(runInChild("DeathHookChild.WithoutContextDoesNothing"), 0);
}

}  // namespace
}  // namespace hosttest
