// Judging an existing file against a package entry: by file version and by file times.
//
// Both return -1, 0 or 1 when the file on disk is older than, the same as, or
// newer than the entry, and -2 when they cannot tell. Nothing is reported.
#pragma once

#include <cstdint>

#include "SystemApi.h"

// Compares the file version of destinationPath with that of the entry's bytes.
// The bytes are examined through the scratch file
// "<destinationFolder>\Temp\tmpfile.dll" (the Temp folder is created and left
// in place; the scratch file is deleted after a successful comparison and left
// behind when the entry has no version information). The four 16-bit parts of
// the versions are compared as numbers, most significant first; a block
// without fixed information counts as older than one with it.
// -2: the destination has no version block with a translation table, the
// scratch file cannot be written, or the entry has no version information.
int CompareVersion(const char* destinationPath, const uint8_t* entryData, uint32_t entrySize,
                   const char* destinationFolder);

// Compares the file's times with the entry's: unless lastWriteOnly, the
// creation times first (a difference decides); then the last-write times.
// -2 when the file cannot be opened for reading or its times read.
int CompareTimes(const char* destinationPath, const FileTime& creationTime, const FileTime& lastWriteTime,
                 int lastWriteOnly);

// CompareFileTime: -1, 0 or 1.
int CompareFileTimes(const FileTime& a, const FileTime& b);
