// Child processes for the Windows tests: running a program, command lines, build-tree paths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

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

// Quotes one argument for a Windows command line.
std::string Quote(const std::string& argument);

// A build-tree path as Windows sees it: a POSIX absolute path is on drive Z:.
std::string WindowsPath(const std::string& path);

// Folder of the running test program, without a trailing separator.
std::string ProgramFolder();

}  // namespace test_support
