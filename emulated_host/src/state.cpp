// What the emulated host keeps: the faults set for tests, the suites a
// callback holds, memory handles and output specifications.
#include <cstring>
#include <stdexcept>

#include "host_internal.h"

namespace emulated_host {

// ---- Faults and suites held ----------------------------------------------------

void Host::withholdSuite(const std::string& name, A_long version, Withhold how) { withheld_[{name, version}] = how; }

void Host::failMember(const std::string& member, A_Err err, int after) { failing_[member] = {err, after}; }

void Host::clearFaults()
{
    withheld_.clear();
    failing_.clear();
}

A_Err Host::fault(const char* member)
{
    calls_.push_back(member);
    auto it = failing_.find(member);
    if (it == failing_.end())
        return A_Err_NONE;
    if (it->second.after > 0) {
        --it->second.after;
        return A_Err_NONE;
    }
    return it->second.err;
}

void Host::checkSuitesReleased(const char* callback)
{
    for (auto& [key, count] : acquired_)
        if (count != 0) {
            errors_.push_back(std::string(callback) + " left suite \"" + key.first + "\" " +
                              std::to_string(key.second) + " acquired");
            count = 0;
        }
}

// ---- Memory handles ----------------------------------------------------------

Host::MemRecord* Host::findHandle(AEGP_MemHandle handle) const
{
    auto* r = reinterpret_cast<MemRecord*>(handle);
    return handles_.count(r) ? r : nullptr;
}

AEGP_MemHandle Host::newHandle(AEGP_PluginID owner, const std::string& label, uint64_t size, AEGP_MemFlag flags)
{
    auto record = std::make_unique<MemRecord>();
    record->info = {owner, label, size, flags, 0};
    allocations_.push_back(record->info);
    // Blocks that are not to be cleared get a pattern, so that a module
    // relying on zeros it did not ask for shows up.
    record->data.reset(new uint8_t[size ? size : 1]);
    std::memset(record->data.get(), (flags & AEGP_MemFlag_CLEAR) ? 0 : 0xA5, size ? size : 1);
    MemRecord* key = record.get();
    handles_[key] = std::move(record);
    return reinterpret_cast<AEGP_MemHandle>(key);
}

std::optional<HandleInfo> Host::handleInfo(AEGP_MemHandle handle) const
{
    MemRecord* r = findHandle(handle);
    if (!r)
        return std::nullopt;
    return r->info;
}

std::vector<HandleInfo> Host::allHandles() const
{
    std::vector<HandleInfo> out;
    for (const auto& [key, record] : handles_)
        out.push_back(record->info);
    return out;
}

bool Host::patchHandle(AEGP_MemHandle handle, size_t offset, const void* bytes, size_t size)
{
    MemRecord* r = findHandle(handle);
    if (!r || offset > r->info.size || size > r->info.size - offset)
        return false;
    std::memcpy(r->data.get() + offset, bytes, size);
    return true;
}

void Host::clearLocks()
{
    for (auto& [key, record] : handles_)
        record->info.locks = 0;
}

std::vector<AEGP_MemHandle> Host::orphanedHandles(const std::string& label) const
{
    std::vector<AEGP_MemHandle> found;
    for (const auto& [key, record] : handles_) {
        const auto handle = reinterpret_cast<AEGP_MemHandle>(key);
        bool used = false;
        for (const auto& o : outputs_)
            used = used || o->options == handle;
        if (!used && record->info.label == label && record->info.owner == pluginId_)
            found.push_back(handle);
    }
    return found;
}

size_t Host::freeHandles(const std::string& label)
{
    const std::vector<AEGP_MemHandle> orphans = orphanedHandles(label);
    for (AEGP_MemHandle handle : orphans)
        handles_.erase(findHandle(handle));
    return orphans.size();
}

// ---- Output specifications -----------------------------------------------------

AEIO_OutSpecH Host::addOutput(const OutputSettings& settings, const std::vector<uint8_t>* stored)
{
    auto output = std::make_unique<Output>();
    output->settings = settings;
    if (stored) {
        // A stored record comes back from the project in a handle of the
        // module's (it allocated the record the project was saved from).
        output->options = newHandle(pluginId_, "stored options", stored->size(), AEGP_MemFlag_NONE);
        std::memcpy(findHandle(output->options)->data.get(), stored->data(), stored->size());
    }
    outputs_.push_back(std::move(output));
    return reinterpret_cast<AEIO_OutSpecH>(outputs_.back().get());
}

Host::Output* Host::findOutput(AEIO_OutSpecH out) const
{
    for (const auto& o : outputs_)
        if (reinterpret_cast<AEIO_OutSpecH>(o.get()) == out)
            return o.get();
    return nullptr;
}

OutputSettings& Host::settings(AEIO_OutSpecH out)
{
    Output* o = findOutput(out);
    if (!o)
        throw std::invalid_argument("unknown output");
    return o->settings;
}

AEGP_MemHandle Host::optionsHandle(AEIO_OutSpecH out) const
{
    Output* o = findOutput(out);
    return o ? o->options : nullptr;
}

std::optional<zexport::StoredOptions> Host::options(AEIO_OutSpecH out) const
{
    AEGP_MemHandle h = optionsHandle(out);
    MemRecord* r = findHandle(h);
    if (!r || r->info.size < sizeof(zexport::StoredOptions))
        return std::nullopt;
    zexport::StoredOptions record;
    std::memcpy(&record, r->data.get(), sizeof record);
    return record;
}

}  // namespace emulated_host
