#include "core/context.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "core/logger.h"
#include "core/threads.h"

namespace nox {

// Samples the machine's processor load once a second. It runs from
// the context's creation until the process ends; nothing on the export path
// reads it.
class SystemMonitor : public Thread {
public:
    SystemMonitor() : Thread("System Monitor") {}
    ~SystemMonitor() override { stop(250); }
    double load() const { return load_.load(std::memory_order_relaxed); }

protected:
    void run() override
    {
        uint64_t lastBusy = 0, lastTotal = 0;
        do {
            uint64_t busy = 0, total = 0;
            // Where busy time is summed over processes, one that ends between two
            // samples takes its time with it: such a sample only starts the next span.
            if (platform::sampleProcessorTimes(&busy, &total) && total > lastTotal) {
                if (lastTotal != 0 && busy >= lastBusy)
                    load_.store(double(busy - lastBusy) / double(total - lastTotal), std::memory_order_relaxed);
                lastBusy = busy;
                lastTotal = total;
            }
        } while (!sleepUnlessStopped(1000));
    }

private:
    std::atomic<double> load_{0.0};
};

double systemCpuLoad(const Noxcore* context)
{
    return context && context->systemMonitor() ? context->systemMonitor()->load() : 0.0;
}

namespace {
std::mutex g_contextMutex;
std::atomic<Noxcore*> g_context{nullptr};
std::atomic<FormatRegistryFactory> g_formatFactory{nullptr};
}  // namespace

void setFormatRegistryFactory(FormatRegistryFactory factory) { g_formatFactory.store(factory); }

Noxcore::Noxcore(uint32_t featureMask) : featureMask_(featureMask), monitor_(std::make_unique<SystemMonitor>())
{
    monitor_->start();
}

Noxcore::~Noxcore() = default;

TaskManager* Noxcore::taskManager() const { return ownsTaskManager_ ? TaskManager::existing() : nullptr; }

Noxcore* createContext(uint32_t featureMask)
{
    std::lock_guard<std::mutex> lock(g_contextMutex);
    // A context replaced here is left allocated: worker threads and pooled
    // blocks may still refer to it, and contexts live until the process ends.
    auto* context = new Noxcore(featureMask);
    g_context.store(context, std::memory_order_release);
    return context;
}

Noxcore* getContext()
{
    if (Noxcore* c = g_context.load(std::memory_order_acquire))
        return c;
    std::lock_guard<std::mutex> lock(g_contextMutex);
    Noxcore* c = g_context.load(std::memory_order_acquire);
    if (!c) {
        c = new Noxcore(0xFFFFFFFFu);
        g_context.store(c, std::memory_order_release);
    }
    return c;
}

Noxcore* currentContext() { return g_context.load(std::memory_order_acquire); }

bool bringUp(Noxcore* context)
{
    LogSection section("Initializing Noxcore");
    const uint32_t mask = context->featureMask_;
    context->paramCollection_ = std::make_unique<ParamCollection>();
    // Input controllers need the pool as well, so either bit creates it.
    if (mask & (FEATURE_TASKS | FEATURE_INPUT)) {
        TaskManager::instance(TaskManager::defaultWorkerCount());
        context->ownsTaskManager_ = true;
    }
    if (mask & FEATURE_DEFAULT_PARAMS)
        context->defaultParams_ = std::make_unique<Params>("DefaultParams");
    if (mask & FEATURE_VIDEO_FORMATS) {
        // The registry belongs to the movie-writing library; a program that
        // does not link it has no factory installed and no registry.
        if (FormatRegistryFactory factory = g_formatFactory.load()) {
            LogSection formats("Creating VideoFormatManager");
            context->formatRegistry_ = factory();
            formats.close("Created VideoFormatManager");
        }
    }
    // Capture, display, rendering and input-device managers are not part of
    // this build; their feature bits create nothing.
    section.close("Successfully initialized Noxcore.");
    return true;
}

void shutdown(Noxcore* context)
{
    if (!context)
        return;
    if (context->formatRegistry_)
        context->formatRegistry_->shutdownFormats();
}

void destroyManagers(Noxcore* context)
{
    if (!context)
        return;
    context->formatRegistry_.reset();
    context->defaultParams_.reset();
    // The worker pool is process-wide; destroying it stops its workers.
    TaskManager::destroyInstance();
    context->ownsTaskManager_ = false;
    context->paramCollection_.reset();
}

}  // namespace nox
