// Holding a file open with read sharing only.
#include "HeldFile.h"

#include <algorithm>
#include <cstring>

Status HeldFile::Hold(const char* path)
{
    Release();
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return Status::LastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        const DWORD code = GetLastError();
        CloseHandle(handle);
        return Status::Error(code);
    }
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        CloseHandle(handle);
        return Status::Error(ERROR_CANT_ACCESS_FILE);
    }
    handle_ = handle;
    return Status::Ok();
}

void HeldFile::Release()
{
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

Status HeldFile::GetSize(uint64_t* size) const
{
    LARGE_INTEGER length;
    if (!GetFileSizeEx(handle_, &length))
        return Status::LastError();
    *size = static_cast<uint64_t>(length.QuadPart);
    return Status::Ok();
}

Status HeldFile::ReadAt(uint64_t offset, void* buffer, DWORD count, DWORD* read) const
{
    // The offset travels with the call: no file position is shared with anyone.
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    *read = 0;
    if (!ReadFile(handle_, buffer, count, read, &at) && GetLastError() != ERROR_HANDLE_EOF)
        return Status::LastError();
    return Status::Ok();
}

Status HeldFile::Matches(const void* bytes, uint64_t size, bool* same) const
{
    *same = false;
    uint64_t fileSize = 0;
    Status status = GetSize(&fileSize);
    if (!status || fileSize != size)
        return status;
    const uint8_t* expected = static_cast<const uint8_t*>(bytes);
    uint8_t piece[4096];
    for (uint64_t at = 0; at < size;) {
        DWORD read = 0;
        status = ReadAt(at, piece, static_cast<DWORD>(std::min<uint64_t>(size - at, sizeof piece)), &read);
        // A file cut short since its size was read ends the comparison too.
        if (!status || read == 0 || std::memcmp(piece, expected + at, read) != 0)
            return status;
        at += read;
    }
    *same = true;
    return Status::Ok();
}
