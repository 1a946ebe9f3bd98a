// Which launcher stamp and make put the package into: the one named, or the first found for the architecture.
#pragma once

#include <string>
#include <vector>

#include "CommandLine.h"
#include "PackageResources.h"
#include "Status.h"

// The folder of the Windows build of architecture that this oempack was
// configured with, relative to the folder the program is built into (or
// absolute where no relative path leads there); empty when none was recorded.
std::string RecordedBuildFolder(LauncherArchitecture architecture);

// The places where the launcher of architecture is looked for, in order, as
// absolute paths without "." or ".." parts, for a program in programFolder
// (absolute):
//   1. programFolder/../share/oempack/launchers/<arch>/Setup.exe
//   2. buildFolder/launcher/Setup.exe, buildFolder taken relative to
//      programFolder; left out when buildFolder is empty
//   3. programFolder/Setup.exe, for x86 only
std::vector<std::string> LauncherPlaces(const std::string& programFolder, const std::string& buildFolder,
                                        LauncherArchitecture architecture);

struct ChosenLauncher {
    std::string path;
    LauncherArchitecture architecture = LauncherArchitecture::kX86;
};

// The launcher stamp and make use, with its architecture read from its headers.
// With --launcher that file, whose architecture must be the one --arch names
// when --arch is given; otherwise the first file of LauncherPlaces (for
// oempack's own folder and RecordedBuildFolder, the latter only while the
// program runs from the folder it was built in), which must be of the
// architecture --arch names (x86 when not given). Failures, each with a
// message that needs no more context:
//   kErrorFileNotFound             nothing found: the architecture and every place looked in
//   kErrorExeMachineTypeMismatch   the launcher is of another architecture, or of neither
//   kErrorBadExeFormat             the launcher is not a Windows program
//   otherwise the code of the failed read.
Status ChooseLauncher(const Options& options, ChosenLauncher* chosen);

// A failure to read or stamp the launcher at path in the tool's words: what is
// wrong with the launcher for kErrorBadExeFormat and
// kErrorExeMachineTypeMismatch, "cannot read the launcher <path>: <system
// text>" for a failure of the file itself.
Status LauncherFailure(const std::string& path, const Status& failure);

// What the program reader says is wrong with the program at path, without the
// path and the "not a Windows program: " it may start with.
std::string ProgramFaultDetail(const std::string& path, const Status& failure);

// path with "." and ".." parts resolved by name (never above its root) and
// the platform's separator between parts.
std::string NormalizePath(const std::string& path);
