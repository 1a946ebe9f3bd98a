// Scratch folders, whole-file helpers and child processes for the tools tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace toolstest {

// A fresh, uniquely named folder under the temporary folder, removed with
// everything in it when the object goes away.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return path_; }
    // Path + "\\" + name.
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// Removes a folder tree; true when nothing is left.
bool RemoveTree(const std::string& path);
bool MakeFolder(const std::string& path);
bool WriteBytes(const std::string& path, const std::string& bytes);
// Whole file content; false when the file cannot be read.
bool ReadBytes(const std::string& path, std::string* bytes);
bool FileExists(const std::string& path);
// Names in a folder, sorted, without "." and "..".
std::vector<std::string> ListFolder(const std::string& path);
// Folder of the running test program, without a trailing separator.
std::string ProgramFolder();
// Deterministic pseudo-random bytes.
std::string PatternBytes(uint32_t size, uint32_t seed);

struct ProcessResult {
    bool started = false;
    uint32_t exitCode = 0;
    std::string out;  // what the child wrote to its standard output
    std::string err;  // ... and to its standard error
};

// Runs commandLine with the standard streams redirected to files in a scratch
// folder (so stderr is not a terminal), waits at most timeoutMs, and returns
// the exit code and both streams. extraEnvironment holds "NAME=value" entries
// added to this process's environment for the child.
ProcessResult RunProcess(const std::string& commandLine,
                         const std::vector<std::string>& extraEnvironment = {},
                         const std::string& currentFolder = std::string(),
                         uint32_t timeoutMs = 120000);

// A build-tree path as Windows sees it: a POSIX absolute path is on drive Z:.
std::string WindowsPath(const std::string& path);

// Quotes one argument for a Windows command line.
std::string Quote(const std::string& argument);

}  // namespace toolstest
