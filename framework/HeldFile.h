// A file kept open so that nobody can change it while it is held.
#pragma once

#include <windows.h>

#include <cstdint>

#include "Status.h"

// Holds a file open for reading with read sharing only: while it is held the
// file cannot be opened for writing, renamed, replaced or deleted (sharing
// violation, ERROR_SHARING_VIOLATION), and it can still be read and run.
class HeldFile {
public:
    HeldFile() = default;
    ~HeldFile() { Release(); }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // Opens the existing file at path, as itself where links can be opened as
    // themselves; a folder or a link is refused (ERROR_CANT_ACCESS_FILE) and
    // not held. A file already held is released first.
    Status Hold(const char* path);
    void Release();
    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

    // The held file's size in bytes.
    Status GetSize(uint64_t* size) const;
    // Reads up to count bytes at offset into buffer through the hold; *read
    // receives how many, fewer only at the end of the file.
    Status ReadAt(uint64_t offset, void* buffer, DWORD count, DWORD* read) const;
    // *same: whether the held file is exactly the size bytes at bytes, its
    // size compared first, then its bytes read through the hold in pieces.
    // A size or read that fails is the failure.
    Status Matches(const void* bytes, uint64_t size, bool* same) const;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};
