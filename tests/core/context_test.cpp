// The context's bring-up as the host's log shows it, the logger, and parameter state.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "core/context.h"
#include "core/params.h"
#include "core/threads.h"
#include "log_capture.h"

namespace {

// Stands in for the format registry, which lives in a library above the core.
struct CountingRegistry : nox::FormatRegistry {
    static inline int shutdowns = 0, alive = 0;
    CountingRegistry()
    {
        ++alive;
        nox::log(nox::LOG_INFO, "registry built");
    }
    ~CountingRegistry() override { --alive; }
    void shutdownFormats() override { ++shutdowns; }
};

std::unique_ptr<nox::FormatRegistry> makeRegistry() { return std::make_unique<CountingRegistry>(); }

}  // namespace

TEST(Context, BringUpByFeatureMask)
{
    // Without a context, getContext makes one for every feature, without bringing anything up.
    LogCapture capture;
    ASSERT_EQ(nox::currentContext(), nullptr);
    nox::Noxcore* fallback = nox::getContext();
    EXPECT_EQ(fallback->featureMask(), 0xFFFFFFFFu);
    EXPECT_EQ(nox::getContext(), fallback);
    EXPECT_EQ(fallback->taskManager(), nullptr);
    EXPECT_TRUE(LogCapture::take().empty());

    const std::string pool =
        "   INFO:     Created TaskManager with " + std::to_string(nox::TaskManager::defaultWorkerCount()) + " threads.";
    const std::vector<std::string> registry = {pool, "   INFO:     Creating VideoFormatManager",
                                               "   INFO:         registry built",
                                               "   INFO:     Created VideoFormatManager"};
    struct Case {
        uint32_t mask;
        bool registryLibrary, params;
        std::vector<std::string> lines;  // between the opening and the closing line
    } cases[] = {
        {132, true, false, registry},        // the exporter's mask
        {0x20 | 0x800, true, true, {pool}},  // input alone creates the pool too
        {0x80, false, false, {}},            // formats without the registry library: nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        nox::setFormatRegistryFactory(c.registryLibrary ? &makeRegistry : nullptr);
        auto owned = std::make_unique<nox::Noxcore>(c.mask);  // not the process-wide one, which stays
        nox::Noxcore* context = owned.get();
        EXPECT_TRUE(nox::bringUp(context));
        std::vector<std::string> lines = c.lines;
        lines.insert(lines.begin(), "   INFO: Initializing Noxcore");
        lines.push_back("   INFO: Successfully initialized Noxcore.");
        EXPECT_EQ(LogCapture::take(), lines);
        EXPECT_EQ(context->taskManager() != nullptr, !c.lines.empty());
        EXPECT_EQ(context->defaultParams() != nullptr, c.params);
        EXPECT_NE(context->paramCollection(), nullptr);
        nox::shutdown(context);
        nox::destroyManagers(context);
        EXPECT_EQ(context->formatRegistry(), nullptr);
        EXPECT_EQ(nox::TaskManager::existing(), nullptr);
        EXPECT_EQ(context->paramCollection(), nullptr);
    }
    EXPECT_EQ(CountingRegistry::shutdowns, 1);
    EXPECT_EQ(CountingRegistry::alive, 0);
    nox::setFormatRegistryFactory(nullptr);
}

// The system monitor keeps the machine's load as a share of its processor time: between 0 and 1
// once two samples a second apart exist, and above 0 while this thread keeps a processor busy.
TEST(Context, SystemMonitorKeepsTheLoadAsAShare)
{
    nox::Noxcore context(0);
    EXPECT_EQ(nox::systemCpuLoad(nullptr), 0.0);
    const auto start = std::chrono::steady_clock::now();
    double load = 0.0;
    while (load == 0.0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
        load = nox::systemCpuLoad(&context);
    EXPECT_GT(load, 0.0);
#ifndef _WIN32
    // Wine answers every process's times with the asking process's own, so there the sum
    // exceeds the machine's time; the share's bound is checked where the system keeps the times.
    EXPECT_LE(load, 1.0);
#endif
}

// Sections indent what they hold (the bring-up lines above show it); one left by an exception
// outdents, and outdenting at the top stays there.
TEST(Logger, SectionsSurviveExceptions)
{
    LogCapture capture;
    try {
        nox::LogSection inner("inner");
        throw std::runtime_error("x");
    } catch (const std::runtime_error&) {
    }
    nox::logOutdent();
    nox::log(nox::LOG_INFO, "top");
    EXPECT_EQ(LogCapture::take(), (std::vector<std::string>{"   INFO: inner", "   INFO: top"}));
    EXPECT_EQ(nox::logIndent(), 0u);
}

// Levels outside the mask (DEBUG among them) are dropped; combined levels pass when any of their
// bits is enabled, tagged UNKNOWN. Long messages are kept whole.
TEST(Logger, MaskTagsAndFormatting)
{
    LogCapture capture;
    for (uint32_t level : std::initializer_list<uint32_t>{nox::LOG_WARNING, nox::LOG_DEBUG, 3, 8 | 16, 0, 12})
        nox::log(level, "m");
    const std::string big(5000, 'x');  // longer than the 4,095-character buffer
    nox::logf(nox::LOG_INFO, "%s|%d", big.c_str(), 42);
    nox::logf(nox::LOG_DEBUG, "%s", "never");
    nox::logParts(nox::LOG_ERROR, "flag ", true, " ", false, " pi ", 3.14159, " n ", 12345);
    EXPECT_EQ(LogCapture::take(),
              (std::vector<std::string>{"WARNING: m", "UNKNOWN: m", "UNKNOWN: m", "   INFO: " + big + "|42",
                                        "  ERROR: flag true false pi 3.14 n 12345"}));
}

TEST(Params, SerialisedStateCopiesValues)
{
    auto make = [] {
        auto p = std::make_shared<nox::Params>("Params");
        auto choice = std::make_shared<nox::ChoiceParam<uint32_t>>("Format Type", 0);
        choice->addChoice(0, "zero");
        choice->addChoice(3, "three");
        p->add(choice);
        p->add(std::make_shared<nox::BoolParam>("Flag", false));
        return p;
    };
    auto a = make(), b = make();
    auto choice = std::static_pointer_cast<nox::ChoiceParam<uint32_t>>(a->find("Format Type"));
    auto restored = std::static_pointer_cast<nox::ChoiceParam<uint32_t>>(b->find("Format Type"));
    choice->setValue(3);
    std::static_pointer_cast<nox::BoolParam>(a->find("Flag"))->setValue(true);
    EXPECT_EQ(*choice->nameOf(3), "three");
    ASSERT_TRUE(b->restore(a->serialise()));
    EXPECT_EQ(b->serialise(), a->serialise());
    EXPECT_EQ(restored->value(), 3u);
    EXPECT_FALSE(b->restore("Format Type=abc\nFlag=maybe\nUnknown=1\nnoequals"));  // reported, nothing changed
    EXPECT_EQ(b->serialise(), a->serialise());
}
