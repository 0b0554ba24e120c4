// A file written under a partial name beside its final one, and given its
// final name only once complete, so that a job killed or failed halfway
// leaves nothing under that name.
#pragma once

#include <string>

namespace zemo3 {

// A command's output file, written under its partial name (see
// platform::partialName) and moved to its final name by commit(). Until
// then, and when the command ends without committing, the final name is
// untouched; the partial file goes with this object.
class PartialOutput {
public:
    explicit PartialOutput(std::string path);
    ~PartialOutput();
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;

    // Where the command writes.
    const std::string& partial() const { return partial_; }
    // Whether the folder takes the file, with the system's reason when not.
    bool writable(std::string* reason) const;
    // Moves the written file to its final name, replacing what was there.
    bool commit(std::string* error);

private:
    std::string path_, partial_;
    bool committed_ = false;
};

}  // namespace zemo3
