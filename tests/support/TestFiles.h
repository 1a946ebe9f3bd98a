// Whole files, folders and file times for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SystemApi.h"

namespace test_support {

// Portable, through the C library (ANSI names on Windows).
// Writes bytes as the whole file, replacing it; a failure also fails the running test.
bool WriteBytes(const std::string& path, const std::string& bytes);
// The whole file into *bytes; false when it cannot be read.
bool ReadBytes(const std::string& path, std::string* bytes);
// The whole file; empty when it cannot be read.
std::string ReadBytes(const std::string& path);

// Deterministic pseudo-random bytes, which do not compress.
std::string PatternBytes(uint32_t size, uint32_t seed);
// Bytes that compress well and still differ from position to position.
std::string CompressibleBytes(size_t size);

// File times, through the framework's file layer.
FileTime TimeOfSeconds(uint64_t seconds);  // whole seconds since 1601
void SetFileTimes(const std::string& path, const FileTime& time);  // creation, access and write
FileTime LastWriteTime(const std::string& path);

// Per platform (TestFiles_win32.cpp, TestFiles_posix.cpp), with the system's
// own calls only, so that they do not depend on the code under test.
bool FileExists(const std::string& path);  // a file or a folder
bool IsFolder(const std::string& path);
// Creates one folder; false when it cannot, or when something of that name is there already.
bool MakeFolder(const std::string& path);
// Names in a folder, sorted, without "." and "..".
std::vector<std::string> ListFolder(const std::string& path);
// Removes path and everything below it, clearing read-only bits first. A link
// (a reparse point on Windows, a symbolic link on POSIX) is removed itself,
// never followed. True when nothing of that name is left.
bool RemoveTree(const std::string& path);

}  // namespace test_support
