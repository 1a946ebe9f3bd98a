// File-system helpers of the packaging tool: input gathering, whole-file reads, stamped programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "PackagePlan.h"

// Adds every file argument to the plan under its group, named after its
// file-name part. A folder, a missing or unreadable path is refused.
bool CollectFileArguments(const std::vector<FileArgument>& files, PackagePlan& plan, std::string* error);

// Adds the files of folder: each subfolder becomes a group of its name with
// the files in it; files directly in folder go to looseGroup. Names are taken
// in byte order. Folders below a group folder cannot be carried and are
// refused; an empty group folder is left out with a warning.
bool CollectFolderGroups(const std::string& folder, const std::string& looseGroup, PackagePlan& plan,
                         std::vector<std::string>* warnings, std::string* error);

// Reads a whole file (an empty one too). false with a message.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);

// The package resource (OEMDATA/DEFAULT) of a stamped setup program. 1 with
// the bytes; 0 when path is not a Windows program (nothing said); -1 when it
// is one but carries no package, or cannot be read (message in *error).
int ReadStampedPackage(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// True when both paths name the same file (full paths compared ignoring case).
bool SameFile(const std::string& a, const std::string& b);

// Folder of the running program, without a trailing separator.
std::string ProgramFolder();

// Converts text in the ANSI code page to UTF-8 (for JSON output).
std::string AnsiToUtf8(const std::string& text);
