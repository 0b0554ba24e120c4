#include <gtest/gtest.h>

#include "core/context.h"
#include "core/threads.h"
#include "log_capture.h"

namespace {

// A registry that records its shutdown; stands in for the format registry,
// which lives in a library above the core.
struct CountingRegistry : nox::FormatRegistry {
    static inline int shutdowns = 0;
    static inline int alive = 0;
    CountingRegistry()
    {
        ++alive;
        nox::log(nox::LOG_INFO, "registry built");
    }
    ~CountingRegistry() override { --alive; }
    void shutdownFormats() override { ++shutdowns; }
};

std::unique_ptr<nox::FormatRegistry> makeRegistry() { return std::make_unique<CountingRegistry>(); }

std::string createdLine()
{
    return "   INFO:     Created TaskManager with " + std::to_string(nox::TaskManager::defaultWorkerCount()) +
           " threads.";
}

}  // namespace

TEST(Context, GetWithoutContextCreatesOneWithoutBringUp)
{
    LogCapture capture;
    ASSERT_EQ(nox::currentContext(), nullptr);
    nox::Noxcore* c = nox::getContext();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->featureMask(), 0xFFFFFFFFu);
    EXPECT_EQ(nox::getContext(), c);
    EXPECT_EQ(c->taskManager(), nullptr);
    EXPECT_EQ(c->paramCollection(), nullptr);
    EXPECT_TRUE(LogCapture::take().empty());
}

TEST(Context, BringUpWithExporterMaskWritesItsLines)
{
    nox::setFormatRegistryFactory(&makeRegistry);
    LogCapture capture;
    nox::Noxcore* c = nox::createContext(132);
    EXPECT_EQ(nox::currentContext(), c);
    EXPECT_TRUE(nox::bringUp(c));
    EXPECT_EQ(LogCapture::take(), (std::vector<std::string>{
                                      "   INFO: Initializing Noxcore",
                                      createdLine(),
                                      "   INFO:     Creating VideoFormatManager",
                                      "   INFO:         registry built",
                                      "   INFO:     Created VideoFormatManager",
                                      "   INFO: Successfully initialized Noxcore.",
                                  }));
    ASSERT_NE(c->taskManager(), nullptr);
    EXPECT_EQ(c->taskManager()->workerCount(), nox::TaskManager::defaultWorkerCount());
    EXPECT_NE(c->paramCollection(), nullptr);
    EXPECT_EQ(c->defaultParams(), nullptr);

    nox::shutdown(c);
    EXPECT_EQ(CountingRegistry::shutdowns, 1);
    nox::destroyManagers(c);
    EXPECT_EQ(CountingRegistry::alive, 0);
    EXPECT_EQ(c->formatRegistry(), nullptr);
    EXPECT_EQ(nox::TaskManager::existing(), nullptr);
    EXPECT_EQ(c->paramCollection(), nullptr);
    nox::setFormatRegistryFactory(nullptr);
}

TEST(Context, InputBitAloneStillCreatesThePool)
{
    LogCapture capture;
    nox::Noxcore* c = nox::createContext(0x20 | 0x800);
    nox::bringUp(c);
    EXPECT_EQ(LogCapture::take(), (std::vector<std::string>{"   INFO: Initializing Noxcore", createdLine(),
                                                            "   INFO: Successfully initialized Noxcore."}));
    EXPECT_NE(c->defaultParams(), nullptr);
    nox::shutdown(c);
    nox::destroyManagers(c);
}

TEST(Context, FormatBitWithoutRegistryLibraryCreatesNothing)
{
    nox::setFormatRegistryFactory(nullptr);
    LogCapture capture;
    nox::Noxcore* c = nox::createContext(0x80);
    nox::bringUp(c);
    EXPECT_EQ(LogCapture::take(), (std::vector<std::string>{"   INFO: Initializing Noxcore",
                                                            "   INFO: Successfully initialized Noxcore."}));
    EXPECT_EQ(c->formatRegistry(), nullptr);
    EXPECT_EQ(nox::TaskManager::existing(), nullptr);
}
