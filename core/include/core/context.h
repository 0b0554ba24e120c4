// The noxcore context: the process-wide object that owns the library's
// managers, its bring-up and its teardown.
#pragma once

#include <cstdint>
#include <memory>

#include "core/memory.h"
#include "core/params.h"

namespace nox {

class TaskManager;
class SystemMonitor;

// Feature bits of the context's mask.
enum Feature : uint32_t {
    FEATURE_TASKS = 0x04,
    FEATURE_DEVICE_CHANGES = 0x10,
    FEATURE_INPUT = 0x20,
    FEATURE_DISPLAYS = 0x40,
    FEATURE_VIDEO_FORMATS = 0x80,
    FEATURE_CAPTURE = 0x08,
    FEATURE_RENDER = 0x200,
    FEATURE_VIDEO_SOURCES = 0x100,
    FEATURE_DEFAULT_PARAMS = 0x800,
};

// The format registry lives above the core (it needs the codecs and FFmpeg);
// the core knows it through this interface and creates it through a factory
// that the registry's library installs (see VideoFormatManager).
class FormatRegistry {
public:
    virtual ~FormatRegistry() = default;
    // Calls the shutdown hook of every registered format, in registration order.
    virtual void shutdownFormats() = 0;
};
using FormatRegistryFactory = std::unique_ptr<FormatRegistry> (*)();
void setFormatRegistryFactory(FormatRegistryFactory factory);

class Noxcore {
public:
    explicit Noxcore(uint32_t featureMask);
    ~Noxcore();

    uint32_t featureMask() const { return featureMask_; }
    MemoryManager::PreallocatedMemory& memory() { return memory_; }
    SystemMonitor* systemMonitor() const { return monitor_.get(); }

    // Managers made by the bring-up (null when not created).
    ParamCollection* paramCollection() const { return paramCollection_.get(); }
    TaskManager* taskManager() const;
    FormatRegistry* formatRegistry() const { return formatRegistry_.get(); }
    Params* defaultParams() const { return defaultParams_.get(); }

    Noxcore(const Noxcore&) = delete;
    Noxcore& operator=(const Noxcore&) = delete;

private:
    friend bool bringUp(Noxcore* context);
    friend void shutdown(Noxcore* context);
    friend void destroyManagers(Noxcore* context);

    uint32_t featureMask_;
    MemoryManager::PreallocatedMemory memory_;
    std::unique_ptr<SystemMonitor> monitor_;
    std::unique_ptr<ParamCollection> paramCollection_;
    bool ownsTaskManager_ = false;
    std::unique_ptr<FormatRegistry> formatRegistry_;
    std::unique_ptr<Params> defaultParams_;
};

// Creates a context and stores it as the process-wide one. A context created
// earlier stays allocated (threads may still refer to it) until the process ends.
Noxcore* createContext(uint32_t featureMask);
// The process-wide context; creates one with mask 0xFFFFFFFF (and no bring-up)
// when there is none.
Noxcore* getContext();
// The process-wide context or nullptr; never creates one.
Noxcore* currentContext();

// Creates the managers the mask asks for and logs:
//   "Initializing Noxcore", "Created TaskManager with %u threads.",
//   "Creating VideoFormatManager", "Created VideoFormatManager",
//   "Successfully initialized Noxcore."
// Managers of the capture, display, rendering and input sides are not part of
// this build: their bits are accepted and create nothing.
bool bringUp(Noxcore* context);
// Teardown, first step: shutdown hooks of the registered formats.
void shutdown(Noxcore* context);
// Teardown, second step: destroys the managers (format registry, worker pool,
// parameter collection) and clears their slots.
void destroyManagers(Noxcore* context);

// A background thread that samples the machine's CPU load once a second.
class SystemMonitor;
double systemCpuLoad(const Noxcore* context);

}  // namespace nox
