// Portable view of the few operating-system facilities the portable code needs.
//
// Portable files (framework strings and files, storage, container) include this
// header instead of <windows.h>. Each facility has one implementation per
// platform, chosen by file: SystemApi_win32.cpp calls the Win32 function named
// in the comment, SystemApi_posix.cpp reproduces its observable behaviour and
// reports failures with the same Win32 error numbers.
#pragma once

#include <cstdint>

// Win32 error numbers used by the portable code and its tests.
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorBadFormat = 11;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorOutOfMemory = 14;
constexpr uint32_t kErrorCurrentDirectory = 16;
constexpr uint32_t kErrorNoMoreFiles = 18;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorSeek = 25;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorLockViolation = 33;
constexpr uint32_t kErrorHandleEof = 38;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorBadExeFormat = 193;
constexpr uint32_t kErrorFileTooLarge = 223;
constexpr uint32_t kErrorFilenameExcedRange = 206;
constexpr uint32_t kErrorExeMachineTypeMismatch = 216;
constexpr uint32_t kErrorDirectory = 267;
constexpr uint32_t kErrorFileInvalid = 1006;
constexpr uint32_t kErrorResourceDataNotFound = 1812;

// Windows file attribute bits and the "no attributes" value.
constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeHidden = 0x02;
constexpr uint32_t kFileAttributeSystem = 0x04;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kFileAttributeNormal = 0x80;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// CreateFileA creation dispositions.
constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kOpenAlways = 4;
constexpr uint32_t kTruncateExisting = 5;

constexpr int kMaxPath = 260;

// Windows FILETIME: 100-ns intervals since 1601-01-01 UTC, low word first.
struct FileTime {
    uint32_t lowDateTime;
    uint32_t highDateTime;
};
static_assert(sizeof(FileTime) == 8, "FileTime is two 32-bit words");

// FileTime ticks of 1970-01-01 UTC, the POSIX epoch.
constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;

inline bool operator==(const FileTime& a, const FileTime& b)
{
    return a.lowDateTime == b.lowDateTime && a.highDateTime == b.highDateTime;
}
inline bool operator!=(const FileTime& a, const FileTime& b) { return !(a == b); }

// An operating-system handle: a Win32 HANDLE, or a POSIX descriptor plus one.
// 0 means "no handle" on both platforms.
using NativeHandle = uintptr_t;

// The thread's last-error value (GetLastError / SetLastError).
uint32_t GetLastErrorValue();
void SetLastErrorValue(uint32_t code);

// Saves the thread's last-error value and puts it back when the scope ends, so
// that clean-up calls cannot overwrite the error of the call that failed.
class LastErrorGuard {
public:
    LastErrorGuard() : saved_(GetLastErrorValue()) {}
    ~LastErrorGuard() { SetLastErrorValue(saved_); }
    LastErrorGuard(const LastErrorGuard&) = delete;
    LastErrorGuard& operator=(const LastErrorGuard&) = delete;

private:
    uint32_t saved_;
};

// Called first thing in a program's entry point. Windows: from then on DLLs
// load from the system folder only (SetDefaultDllDirectories with
// LOAD_LIBRARY_SEARCH_SYSTEM32 where the system has it, Windows 7 with
// KB2533623 and later), and the current folder leaves the search order
// (SetDllDirectoryA("")); a system without either function runs on with its
// own search order. Windows hands the dropped current folder on to the
// processes the program starts; an installer started in its own folder still
// finds its DLLs there first. The thread's last error is kept. POSIX: nothing
// to do, the loader never looks beside the program.
void RestrictDllSearchToSystemFolder();

// lstrcmpiA: locale-aware comparison ignoring case (POSIX: ASCII letters fold).
int CompareNoCase(const char* a, const char* b);
// _mbscmp: exact multibyte comparison.
int CompareMbs(const char* a, const char* b);
// _mbsicmp: multibyte comparison ignoring case; trail bytes never fold.
int CompareMbsNoCase(const char* a, const char* b);

// GetFileAttributesA; kInvalidFileAttributes when the path cannot be queried.
uint32_t GetPathAttributes(const char* path);
// GetFileTime on an open file handle; false when the times cannot be read.
bool GetHandleTimes(NativeHandle file, FileTime* creation, FileTime* lastAccess, FileTime* lastWrite);
// SetFileTime on an open file handle.
bool SetHandleTimes(NativeHandle file, const FileTime* creation, const FileTime* lastAccess,
                    const FileTime* lastWrite);
// GetSystemTimeAsFileTime.
FileTime GetSystemFileTime();
// _access(path, 0) == 0: the path names an existing file or folder.
bool PathExists(const char* path);

// The folder separator that joins paths on this platform: '\\' on Windows,
// '/' on POSIX. Portable code that splits or joins paths uses it.
extern const char kPathSeparator;
// SetFileAttributesA. POSIX: only the read-only bit has an effect (write
// permission of the owner); other bits are accepted and ignored.
bool SetPathAttributes(const char* path, uint32_t attributes);
// CreateDirectoryA: 183 when the path exists, 3 when its parent is missing.
bool CreateFolder(const char* path);
// DeleteFileA: 2 when missing, 5 for a folder or a read-only file.
bool DeletePath(const char* path);
// GetTempFileNameA(folder, prefix, 0, path): creates a new empty file named
// "<prefix>XXXX.tmp" in folder and stores its path in path (kMaxPath bytes).
// POSIX: the name is found by trying, the file is created exclusively (mode
// 0666 less the umask).
bool CreateUniqueFile(const char* folder, const char* prefix, char* path);
// MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED |
// MOVEFILE_WRITE_THROUGH): to is replaced by from. POSIX: rename, atomic
// within one file system.
bool ReplacePath(const char* from, const char* to);
// IsDBCSLeadByte: the byte starts a two-byte character in the ANSI code page
// (POSIX: never; UTF-8 has no trail bytes below 0x80).
bool IsLeadByte(uint8_t byte);
