// The entry: what the host receives, version checks, stubs, the death hook.
#include <chrono>
#include <thread>

#include "host_session.h"
#include "resources/resources.h"

namespace hosttest {
namespace {

using Registration = HostTest;
using testutil::threadCount;

TEST_F(Registration, CallsRegistrationMembersInOrder)
{
    EXPECT_EQ(g_entryCalls, (std::vector<std::string>{"AEGP_RegisterDeathHook", "strcpy", "AEGP_RegisterIO",
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
    expected.max_width = expected.max_height = 0x7FFFFFFF;
    expected.num_filetypes = expected.num_extensions = 1;
    expected.create_kind.mac.type = 0x4D4F565F;
    expected.create_kind.mac.creator = 0x20202020;
    std::memcpy(expected.create_ext.ext.extension, ".mov", 4);
    expected.read_kinds[0].mac.type = 0x4D4F565F;
    expected.read_kinds[0].mac.creator = 0xFFFFFFFF;
    std::memcpy(expected.read_kinds[1].ext.extension, ".mov", 4);
    EXPECT_EQ(std::memcmp(&host().moduleInfo(), &expected, sizeof expected), 0);
}

TEST_F(Registration, FunctionBlockHasExactlyItsSlotsAndStubsIgnoreTheirArguments)
{
    const auto* slots = reinterpret_cast<void* const*>(&host().functions());
    std::vector<size_t> set;
    for (size_t i = 0; i < kFunctionBlockSlots; ++i)
        if (slots[i])
            set.push_back(i);
    EXPECT_EQ(set, (std::vector<size_t>{14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 25, 26, 27, 28, 29, 30, 31, 41, 43}));

    const AEIO_FunctionBlock4& f = host().functions();
    auto* junkBasic = reinterpret_cast<AEIO_BasicData*>(uintptr_t(0x10));
    auto junkOut = reinterpret_cast<AEIO_OutSpecH>(uintptr_t(0x20));
    for (AEIO_BasicData* basic : {static_cast<AEIO_BasicData*>(nullptr), junkBasic, host().basicData()}) {
        EXPECT_EQ(f.AEIO_SetOutputFile(basic, junkOut, u"/tmp/x.mov"), 9992);
        EXPECT_EQ(f.AEIO_WriteLabels(basic, junkOut, nullptr), 9992);
        EXPECT_EQ(f.AEIO_GetSizes(basic, junkOut, nullptr, nullptr), 9992);
        EXPECT_EQ(f.AEIO_GetOutputSuffix(basic, junkOut, nullptr), 9992);
        EXPECT_EQ(f.AEIO_Flush(basic, junkOut), 0);
        EXPECT_EQ(f.AEIO_Idle(basic, 0xFFFFFFFF, nullptr), 0);
        EXPECT_EQ(f.AEIO_SetUserData(basic, junkOut, 7, 9, nullptr), 0);
        EXPECT_EQ(f.AEIO_AddMarker(basic, junkOut, -1, nullptr, nullptr), 0);
    }
    EXPECT_TRUE(host().calls().empty());
}

TEST_F(Registration, HostVersionBelow115RegistersNothing)
{
    // 115 itself is the session's entry: a second successful entry would start a second core context.
    for (A_long major : {114, -1}) {
        host().clearCalls();
        EXPECT_EQ(host().callEntry(major), 1) << major;
        EXPECT_TRUE(host().calls().empty()) << major;
    }
}

TEST(PiPL, ExactBytes)
{
    const std::string expected = std::string(
                                     "\x01\x00"
                                     "\x00\x00\x00\x00"
                                     "\x05\x00\x00\x00",
                                     10) +
                                 std::string("MIB8dnik\0\0\0\0\x04\0\0\0xgEA", 20) +
                                 std::string("MIB8eman\0\0\0\0\x07\0\0\0\x06Zemo 3\0", 24) +
                                 std::string("MIB8gtac\0\0\0\0\x0f\0\0\0\x0eGeneral Plugin\0", 32) +
                                 std::string("MIB8srev\0\0\0\0\x04\0\0\0\0\0\x01\0", 20) +
                                 std::string("MIB84668\0\0\0\0\x0f\0\0\0EntryPointFunc\0\0", 32);
    std::vector<uint8_t> pipl = zexport::resources::piplResource();
    EXPECT_EQ(std::string(pipl.begin(), pipl.end()), expected);
    EXPECT_EQ(zexport::resources::kPiPLResourceId, 16000);
#ifdef _WIN32
    // The module's compiled resources: the property list and the version strings.
    HMODULE module = LoadLibraryExW(std::filesystem::path(ZEMO_MODULE_PATH).wstring().c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(16000), L"PiPL");
    ASSERT_NE(found, nullptr);
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    EXPECT_EQ(std::string(data, SizeofResource(module, found)), expected);
    HRSRC version = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    ASSERT_NE(version, nullptr);
    std::vector<char> block(static_cast<const char*>(LockResource(LoadResource(module, version))),
                            static_cast<const char*>(LockResource(LoadResource(module, version))) +
                                SizeofResource(module, version));
    const auto& strings = zexport::resources::versionStrings();
    for (auto [name, value] : {std::pair{L"FileDescription", strings.fileDescription},
                               {L"FileVersion", strings.fileVersion},
                               {L"InternalName", strings.internalName}}) {
        wchar_t* text = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), (std::wstring(L"\\StringFileInfo\\040904b0\\") + name).c_str(),
                                   reinterpret_cast<void**>(&text), &length))
            << value;
        EXPECT_EQ(platform::utf16ToUtf8(reinterpret_cast<const char16_t*>(text)), value);
    }
    FreeLibrary(module);
#endif
}

// ---- The death hook and the host's leak check at unload, in a process of their own

// Waits until the thread count satisfies the predicate (threads end a little after they are joined).
template <typename Predicate>
bool waitForThreads(Predicate ok)
{
    for (int i = 0; i < 500 && !ok(threadCount()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ok(threadCount());
}

TEST(DeathHookChild, WithAndWithoutContext)
{
    if (!inChild())
        GTEST_SKIP() << "runs in a process of its own";
    const size_t before = threadCount();
    {
        // Registration stops at the output module: the core is never started.
        emulated_host::Host host;
        ASSERT_TRUE(host.load(ZEMO_MODULE_PATH));
        host.failMember("AEGP_RegisterIO", 42);
        EXPECT_EQ(host.callEntry(115), 42);
        EXPECT_TRUE(host.deathHookRegistered());
        EXPECT_TRUE(host.pluginName().empty());
        host.unload();
        EXPECT_EQ(host.deathHookResult(), A_Err_NONE);
        EXPECT_EQ(threadCount(), before);
        EXPECT_TRUE(host.errors().empty());
    }
    emulated_host::Host host;
    ASSERT_TRUE(host.load(ZEMO_MODULE_PATH));
    ASSERT_EQ(host.callEntry(115), A_Err_NONE);
    // The bring-up started the system monitor and max(P, 4) - 2 workers (a
    // sanitizer may add a thread of its own, hence "at least").
    const size_t workers = size_t(std::max(platform::processorCount(), 4u) - 2);
    EXPECT_TRUE(waitForThreads([&](size_t n) { return n >= before + 1 + workers; })) << threadCount();
    const size_t up = threadCount();
    // A handle the module never frees is reported at unload.
    const void* suite = nullptr;
    ASSERT_EQ(host.basicData()->pica_basicP->AcquireSuite(kAEGPMemorySuite, 1, &suite), A_Err_NONE);
    AEGP_MemHandle h = nullptr;
    const auto* memory = static_cast<const AEGP_MemorySuite1*>(suite);
    ASSERT_EQ(memory->AEGP_NewMemHandle(host.pluginId(), "forgotten", 16, AEGP_MemFlag_NONE, &h), A_Err_NONE);
    host.basicData()->pica_basicP->ReleaseSuite(kAEGPMemorySuite, 1);
    host.unload();
    EXPECT_EQ(host.deathHookResult(), A_Err_NONE);
    // The workers are gone; the system monitor stays until the process ends.
    EXPECT_TRUE(waitForThreads([&](size_t n) { return n == up - workers; })) << threadCount();
    EXPECT_GE(threadCount(), before + 1);
    EXPECT_EQ(host.errors(), (std::vector<std::string>{"handle \"forgotten\" (16 bytes) leaked by the module"}));
}

TEST(DeathHook, RunsInAFreshProcess)
{
    if (inChild())
        GTEST_SKIP();
    EXPECT_EQ(runInChild("DeathHookChild.WithAndWithoutContext"), 0);
}

}  // namespace
}  // namespace hosttest
