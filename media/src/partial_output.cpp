#include "media/partial_output.h"

#include <utility>

#include "platform/platform.h"

namespace zemo3 {

PartialOutput::PartialOutput(std::string path) : path_(std::move(path)), partial_(platform::partialName(path_)) {}

PartialOutput::~PartialOutput()
{
    if (!committed_)
        platform::removeFile(partial_);
}

bool PartialOutput::writable(std::string* reason) const
{
    if (platform::isDirectory(path_)) {
        *reason = "it is a folder";
        return false;
    }
    const bool ok = platform::canAppend(partial_, reason);
    platform::removeFile(partial_);
    return ok;
}

bool PartialOutput::commit(std::string* error)
{
    std::string reason;
    if (!platform::replaceFile(partial_, path_, &reason)) {
        *error = "cannot move the finished file to '" + path_ + "': " + reason;
        return false;
    }
    committed_ = true;
    return true;
}

}  // namespace zemo3
