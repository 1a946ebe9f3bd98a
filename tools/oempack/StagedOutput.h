// An output file that appears complete or not at all.
#pragma once

#include <string>

#include "Status.h"

// An output file written under a temporary name beside its final path and
// moved into place by Commit; otherwise the temporary file is deleted, and an
// existing file at the final path is never touched.
class StagedOutput {
public:
    StagedOutput() = default;
    ~StagedOutput();
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;

    // Reserves the temporary name (creating an empty file there).
    Status Begin(const std::string& finalPath);
    const std::string& TemporaryPath() const { return temporary_; }
    // Replaces the final path with the temporary file.
    Status Commit();

private:
    std::string final_;
    std::string temporary_;
};
