// The options record through the host: create, restore, flatten, dispose,
// describe, refresh and the render depth.
#include <cstring>

#include "host_session.h"

namespace hosttest {
namespace {

using Options = HostTest;
using zexport::ExportOptions;

TEST_F(Options, NewRecordHasDefaults)
{
    AEIO_OutSpecH out = newOutput();
    ExportOptions r = record(out);
    EXPECT_EQ(r.flattened, 0u);
    EXPECT_EQ(r.formatType, 0u);
    EXPECT_EQ(r.alphaType, 3);
    EXPECT_EQ(r.writer, nullptr);
    EXPECT_NE(r.pendingFrames, nullptr);
    EXPECT_EQ(r.framesAdded, 0u);
    EXPECT_EQ(r.samplesAdded, 0u);
    for (uint8_t b : r.reserved)
        ASSERT_EQ(b, 0);
    auto info = host().handleInfo(host().optionsHandle(out));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->label, "InitOutputSpec options");
    EXPECT_EQ(info->size, 376u);
    EXPECT_EQ(info->flags, AEGP_MemFlag_CLEAR);
    EXPECT_EQ(info->owner, host().pluginId());
    EXPECT_EQ(info->locks, 0);

    AEIO_Verbiage v{};
    EXPECT_EQ(host().getOutputInfo(out, &v), A_Err_NONE);
    EXPECT_STREQ(v.name, "filename");
    EXPECT_STREQ(v.type, "MOV (Zemo 3)");
    EXPECT_STREQ(v.sub_type, "Normal Quality, No Alpha");
}

TEST_F(Options, RestoringAStoredRecordStartsALiveOne)
{
    ExportOptions stored = storedRecord(3, 1);
    stored.framesAdded = 12;
    stored.samplesAdded = 34;
    stored.writer = reinterpret_cast<nox::VideoFormatWriter*>(uintptr_t(0xDEAD0));
    stored.pendingFrames = reinterpret_cast<zexport::PendingFrames*>(uintptr_t(0xBEEF0));
    stored.reserved[0] = 0x11;
    stored.reserved[331] = 0x22;
    bool interacted = false;
    std::vector<uint8_t> bytes = bytesOf(stored);
    AEIO_OutSpecH out = host().addOutput({}, &bytes);
    AEGP_MemHandle storedHandle = host().optionsHandle(out);
    ASSERT_EQ(host().initOutputSpec(out, &interacted), A_Err_NONE);
    EXPECT_TRUE(interacted);
    EXPECT_NE(host().optionsHandle(out), storedHandle);
    EXPECT_FALSE(host().handleInfo(storedHandle)) << "the replaced record is freed";

    ExportOptions r = record(out);
    EXPECT_EQ(r.flattened, 0u);
    EXPECT_EQ(r.formatType, 3u);
    EXPECT_EQ(r.alphaType, 1);
    EXPECT_EQ(r.writer, nullptr);
    EXPECT_NE(r.pendingFrames, nullptr);
    EXPECT_NE(r.pendingFrames, stored.pendingFrames);
    EXPECT_EQ(r.framesAdded, 0u);
    EXPECT_EQ(r.samplesAdded, 0u);
    EXPECT_EQ(r.reserved[0], 0x11);
    EXPECT_EQ(r.reserved[331], 0x22);
}

TEST_F(Options, InitOverALiveRecordReplacesIt)
{
    AEIO_OutSpecH out = restoredOutput(storedRecord(2));
    AEGP_MemHandle first = host().optionsHandle(out);
    ASSERT_EQ(host().initOutputSpec(out), A_Err_NONE);
    EXPECT_NE(host().optionsHandle(out), first);
    EXPECT_FALSE(host().handleInfo(first));
    EXPECT_EQ(record(out).formatType, 2u);
    EXPECT_EQ(host().allHandles().size(), 1u);
}

TEST_F(Options, FlattenedCopyClearsJobState)
{
    AEIO_OutSpecH out = restoredOutput(storedRecord(1, 2));
    ExportOptions live = record(out);
    uint64_t counters[2] = {7, 48000};
    ASSERT_TRUE(host().patchHandle(host().optionsHandle(out), offsetof(ExportOptions, framesAdded), counters,
                                   sizeof counters));
    std::vector<uint8_t> flat;
    ASSERT_EQ(host().getFlatOutputOptions(out, &flat), A_Err_NONE);
    ASSERT_EQ(flat.size(), 376u);
    ExportOptions f;
    std::memcpy(&f, flat.data(), sizeof f);
    EXPECT_EQ(f.flattened, 1u);
    EXPECT_EQ(f.writer, nullptr);
    EXPECT_EQ(f.framesAdded, 0u);
    EXPECT_EQ(f.samplesAdded, 0u);
    EXPECT_EQ(f.formatType, 1u);
    EXPECT_EQ(f.alphaType, 2);
    // The live record is untouched and the copy was labelled as such.
    ExportOptions after = record(out);
    EXPECT_EQ(after.framesAdded, 7u);
    EXPECT_EQ(after.pendingFrames, live.pendingFrames);
    EXPECT_EQ(after.flattened, 0u);
    ASSERT_FALSE(host().allocations().empty());
    EXPECT_EQ(host().allocations().back().label, "flat optionsH");
    EXPECT_EQ(host().allocations().back().size, 376u);
    EXPECT_EQ(host().allocations().back().flags, AEGP_MemFlag_CLEAR);

    // The stored copy restores to an equal live record.
    AEIO_OutSpecH again = restoredOutput(f);
    EXPECT_EQ(record(again).formatType, 1u);
    EXPECT_EQ(record(again).alphaType, 2);
}

TEST_F(Options, WithoutOptionsHandle)
{
    AEIO_OutSpecH out = host().addOutput({});
    std::vector<uint8_t> flat{1, 2, 3};
    EXPECT_EQ(host().getFlatOutputOptions(out, &flat), A_Err_NONE);
    EXPECT_TRUE(flat.empty());
    AEIO_Verbiage v{};
    std::strcpy(v.sub_type, "stale");
    EXPECT_EQ(host().getOutputInfo(out, &v), A_Err_NONE);
    EXPECT_STREQ(v.type, "MOV (Zemo 3)");
    EXPECT_STREQ(v.sub_type, "");
    EXPECT_EQ(host().outputInfoChanged(out), A_Err_NONE);
    AEIO_SupportedDepthFlags depth = 0;
    EXPECT_EQ(host().getDepths(out, &depth), A_Err_GENERIC);
    EXPECT_EQ(host().disposeOutputOptions(out), A_Err_NONE);
    EXPECT_EQ(host().liveHandles(), 0u);
}

TEST_F(Options, DepthAndDescriptionByFormatType)
{
    struct Case {
        uint32_t type;
        AEIO_SupportedDepthFlags depth;
        const char* name;
    };
    const Case cases[] = {
        {0, 64, "Normal Quality, No Alpha"},   {1, 128, "Normal Quality, With Alpha"},
        {2, 64, "High Quality, No Alpha"},     {3, 128, "High Quality, With Alpha"},
        {4, 64, "Normal Quality, No Alpha"},   {5, 64, "Normal Quality, With Alpha"},
        {6, 4096, "UV Map"},                   {7, 4096, "MASK"},
        {9, 64, "Normal Quality, No Alpha"},   {0xFFFFFFFF, 64, "Normal Quality, No Alpha"},
    };
    for (const Case& c : cases) {
        AEIO_OutSpecH out = restoredOutput(storedRecord(c.type));
        AEGP_MemHandle handle = host().optionsHandle(out);
        AEIO_SupportedDepthFlags depth = 0;
        EXPECT_EQ(host().getDepths(out, &depth), A_Err_NONE) << c.type;
        EXPECT_EQ(depth, c.depth) << c.type;
        EXPECT_EQ(host().optionsHandle(out), handle) << "the same handle is handed back";
        AEIO_Verbiage v{};
        EXPECT_EQ(host().getOutputInfo(out, &v), A_Err_NONE);
        EXPECT_STREQ(v.sub_type, c.name) << c.type;
        EXPECT_EQ(host().removeOutput(out), A_Err_NONE);
    }
}

TEST_F(Options, RefreshTakesTheAlphaTypeUnlessMissing)
{
    hostsim::OutputSettings settings;
    settings.alpha.alpha = 7;
    AEIO_OutSpecH out = newOutput(settings);
    EXPECT_EQ(record(out).alphaType, 3) << "a new record starts with 3 whatever the label";
    EXPECT_EQ(host().outputInfoChanged(out), A_Err_NONE);
    EXPECT_EQ(record(out).alphaType, 7);

    host().settings(out).alpha.alpha = 5;
    host().settings(out).missing = true;
    EXPECT_EQ(host().outputInfoChanged(out), A_Err_NONE);
    EXPECT_EQ(record(out).alphaType, 7);

    // A failed query counts as missing; its error is passed on.
    host().settings(out).missing = false;
    host().failMember("AEGP_GetOutSpecIsMissing", 77);
    EXPECT_EQ(host().outputInfoChanged(out), 77);
    EXPECT_EQ(record(out).alphaType, 7);
}

TEST_F(Options, DisposeOfNothingSucceeds)
{
    const AEIO_FunctionBlock4& f = host().functions();
    EXPECT_EQ(f.AEIO_DisposeOutputOptions(host().basicData(), nullptr), A_Err_NONE);
    EXPECT_TRUE(host().calls().empty());
}

}  // namespace
}  // namespace hosttest
