// Unbuffered file object of the application framework.
//
// Open reports failure through its result and, when given one, a CFileException
// filled with the cause and the Win32 error number. Read, Write, Flush, Seek and
// GetLength throw CFileException (by value) on failure. The object owns its
// handle and closes it on destruction.
#pragma once

#include <cstdint>

#include "CFileException.h"
#include "CString.h"
#include "SystemApi.h"

class CFile {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile() = default;
    // Opens or throws CFileException.
    CFile(const char* path, unsigned openFlags);
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // 1 on success; 0 on failure, with *error (if given) holding the cause,
    // the Win32 error number and the path. The last-error value is left set.
    int Open(const char* path, unsigned openFlags, CFileException* error = nullptr);

    unsigned Read(void* buffer, unsigned count);
    // Writes all count bytes or throws. On Windows large buffers go to the
    // system in pieces of 32 KiB (see CFile_win32.cpp for why).
    void Write(const void* buffer, unsigned count);
    unsigned ReadHuge(void* buffer, uint32_t count) { return Read(buffer, count); }
    void WriteHuge(const void* buffer, uint32_t count) { Write(buffer, count); }
    void Flush();
    uint64_t Seek(int64_t offset, unsigned from);
    void SeekToBegin() { Seek(0, begin); }
    uint64_t SeekToEnd() { return Seek(0, end); }
    uint64_t GetLength() const;
    // Closes; throws when the close fails.
    void Close();
    // Closes, ignoring failures.
    void Abort();

    NativeHandle GetHandle() const { return handle_; }
    bool IsOpen() const { return handle_ != 0; }
    const CString& GetFilePath() const { return path_; }

private:
    [[noreturn]] void ThrowLastError() const;

    NativeHandle handle_ = 0;
    CString path_;
};
