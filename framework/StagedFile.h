// An output file that appears complete or not at all: written under a temporary name beside it, then moved into place.
#pragma once

#include <string>

// What Begin refused.
enum class StagedFileRefusal {
    kNone,
    kPathTooLong,     // the final path does not fit kMaxPath
    kFolderTooLong,   // its folder leaves no room for a temporary name
    kTargetIsFolder,  // the final path names a folder
    kNoFolder,        // its folder does not exist
    kCannotCreate,    // the temporary file could not be created (the last error says why)
};

// A file written under a temporary name in the folder of its final path and
// moved over the final path by Commit. Until then, and when Commit is never
// called, the temporary file is deleted when the object goes (keeping the
// thread's last-error value), and an existing file at the final path is never
// touched.
class StagedFile {
public:
    StagedFile() = default;
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Checks finalPath (in the order of StagedFileRefusal) and creates an
    // empty temporary file "oemXXXX.tmp" beside it. kNone on success.
    StagedFileRefusal Begin(const std::string& finalPath);
    // The folder of the final path: "." when it has none (on Windows "C:."
    // for "C:name").
    const std::string& Folder() const { return folder_; }
    const std::string& TemporaryPath() const { return temporary_; }
    // Replaces the final path with the temporary file; false with the last
    // error set (the temporary file is then deleted with the object).
    bool Commit();

private:
    std::string final_;
    std::string folder_;
    std::string temporary_;
};
