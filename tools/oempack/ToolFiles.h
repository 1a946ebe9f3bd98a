// File-system helpers of the packaging tool: input gathering, whole-file reads, stamped programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "PackagePlan.h"
#include "Status.h"

// One item of a folder listing.
struct FolderItem {
    std::string name;
    bool isFolder;
    uint64_t size;
};

// The items of folder except "." and "..", in byte order of their names. A
// path that is not a folder is refused (ERROR_DIRECTORY).
Status ListFolder(const std::string& folder, std::vector<FolderItem>* items);

// Whether path is a folder and, for a file, its size; the path's own failure otherwise.
Status QueryPath(const std::string& path, bool* isFolder, uint64_t* size);

// folder and name joined with the platform's separator (none added after one).
std::string JoinPath(const std::string& folder, const std::string& name);

// Adds every file argument to the plan under its group, named after its
// file-name part. A folder, a missing or unreadable path is refused.
Status CollectFileArguments(const std::vector<FileArgument>& files, PackagePlan& plan);

// Adds the files of folder: each subfolder becomes a group of its name with
// the files in it; files directly in folder go to looseGroup. Names are taken
// in byte order. Folders below a group folder cannot be carried and are
// refused; an empty group folder is left out with a warning.
Status CollectFolderGroups(const std::string& folder, const std::string& looseGroup, PackagePlan& plan,
                           std::vector<std::string>* warnings);

// Reads a whole file (an empty one too).
Status ReadWholeFile(const std::string& path, std::string* bytes);

// The package resource (OEMDATA/DEFAULT) of a stamped setup program: *stamped
// set, with the bytes and the program's machine (PeImage::Machine). Ok with
// *stamped false when path is not a Windows program (or cannot be opened); a
// failure when it is one but carries no package or cannot be read.
// pieceIndex (when given) receives its OEMDATA/INDEX (empty without one).
Status ReadStampedPackage(const std::string& path, bool* stamped, std::vector<uint8_t>* bytes, uint16_t* machine,
                          std::vector<uint8_t>* pieceIndex = nullptr);

// True when both paths name the same file (Windows: full paths compared
// ignoring case; POSIX: the same device and inode).
bool SameFile(const std::string& a, const std::string& b);

// Folder of the running program, without a trailing separator ("." when unknown).
std::string ProgramFolder();

// Converts text in the ANSI code page to UTF-8 (for JSON output; POSIX: the text is UTF-8 already).
std::string AnsiToUtf8(const std::string& text);
