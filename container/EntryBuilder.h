// The entry builder: turns a mapped file or a memory block into one EntryBuffer.
#pragma once

#include "EntryBuffer.h"
#include "MappedFile.h"

// Builds target (constructed, not yet created) from the bytes of source.
//
// The block gets 4096 bytes of capacity when the source holds at most 1024
// bytes, else 3 x the source size. Record: kind 0xFFFF; attributes of
// sourcePath (0 without a path or when unavailable); uncompressed size = the
// source size (MappedFile::GetSize); times from the source file's handle, or
// the system time in all three for a memory block; name = the part of
// sourcePath after its last '\\', '/' or ':' (empty without a path); data
// stored uncompressed. compress is accepted and has no effect.
//
// 1 on success. 0, with the target left closed, when:
// - the source is closed or its size exceeds its mapped bytes (last-error 87);
// - the name exceeds 259 bytes (206);
// - 3 x the source size does not fit 32 bits (8);
// - the target is already open, or its block cannot be created (the platform's code).
int BuildEntry(MappedFile& source, const char* sourcePath, EntryBuffer& target, int compress);

// The part of a path after its last '\\', '/' or ':' (the whole path without any).
const char* FileNamePart(const char* path);
