// Portable system facilities on POSIX, with Win32 semantics and error numbers.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "PosixErrors.h"
#include "SystemApi.h"

namespace {

thread_local uint32_t lastError = 0;


FileTime FromTimespec(const struct timespec& ts)
{
    uint64_t ticks = kUnixEpochTicks + static_cast<uint64_t>(ts.tv_sec) * 10000000ull +
                     static_cast<uint64_t>(ts.tv_nsec) / 100u;
    return {static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

struct timespec ToTimespec(const FileTime& t)
{
    uint64_t ticks = (static_cast<uint64_t>(t.highDateTime) << 32) | t.lowDateTime;
    struct timespec ts = {};
    if (ticks >= kUnixEpochTicks) {
        ticks -= kUnixEpochTicks;
        ts.tv_sec = static_cast<time_t>(ticks / 10000000ull);
        ts.tv_nsec = static_cast<long>((ticks % 10000000ull) * 100u);
    }
    return ts;
}

int FoldAscii(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

}  // namespace

uint32_t Win32ErrorFromErrno(int error)
{
    switch (error) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EEXIST: return kErrorFileExists;
    case EINVAL: return kErrorInvalidParameter;
    case ENOSPC:
    case EFBIG: return kErrorDiskFull;
    case ENAMETOOLONG: return kErrorFilenameExcedRange;
    case EBUSY:
    case ETXTBSY: return kErrorSharingViolation;
    default: return kErrorGenFailure;
    }
}

uint32_t Win32ErrorForPath(int error, const char* path)
{
    if (error == ENOENT && path) {
        std::string folder(path);
        size_t slash = folder.find_last_of('/');
        if (slash != std::string::npos && slash > 0) {
            folder.resize(slash);
            struct stat st;
            if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                return kErrorPathNotFound;
        }
    }
    return Win32ErrorFromErrno(error);
}

uint32_t GetLastErrorValue() { return lastError; }

void SetLastErrorValue(uint32_t code) { lastError = code; }

int CompareNoCase(const char* a, const char* b)
{
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        int cx = FoldAscii(*x), cy = FoldAscii(*y);
        if (cx != cy)
            return cx < cy ? -1 : 1;
        if (cx == 0)
            return 0;
    }
}

int CompareMbs(const char* a, const char* b)
{
    int r = std::strcmp(a, b);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int CompareMbsNoCase(const char* a, const char* b) { return CompareNoCase(a, b); }

uint32_t GetPathAttributes(const char* path)
{
    struct stat st;
    if (::stat(path, &st) != 0) {
        SetLastErrorValue(Win32ErrorFromErrno(errno));
        return kInvalidFileAttributes;
    }
    if (S_ISDIR(st.st_mode))
        return kFileAttributeDirectory | ((st.st_mode & S_IWUSR) ? 0 : kFileAttributeReadOnly);
    uint32_t attributes = kFileAttributeArchive;
    if (!(st.st_mode & S_IWUSR))
        attributes |= kFileAttributeReadOnly;
    return attributes;
}

bool GetHandleTimes(NativeHandle file, FileTime* creation, FileTime* lastAccess, FileTime* lastWrite)
{
    struct stat st;
    if (file == 0 || ::fstat(static_cast<int>(file) - 1, &st) != 0) {
        SetLastErrorValue(file == 0 ? kErrorInvalidHandle : Win32ErrorFromErrno(errno));
        return false;
    }
    // POSIX keeps no creation time; the last write stands in for it.
    if (creation)
        *creation = FromTimespec(st.st_mtim);
    if (lastAccess)
        *lastAccess = FromTimespec(st.st_atim);
    if (lastWrite)
        *lastWrite = FromTimespec(st.st_mtim);
    return true;
}

bool SetHandleTimes(NativeHandle file, const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite)
{
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_nsec = UTIME_OMIT;
    if (lastAccess)
        times[0] = ToTimespec(*lastAccess);
    if (lastWrite)
        times[1] = ToTimespec(*lastWrite);
    if (file == 0 || ::futimens(static_cast<int>(file) - 1, times) != 0) {
        SetLastErrorValue(file == 0 ? kErrorInvalidHandle : Win32ErrorFromErrno(errno));
        return false;
    }
    return true;
}

FileTime GetSystemFileTime()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return FromTimespec(now);
}

bool PathExists(const char* path) { return ::access(path, F_OK) == 0; }

const char kPathSeparator = '/';

bool SetPathAttributes(const char* path, uint32_t attributes)
{
    struct stat st;
    if (::stat(path, &st) != 0) {
        SetLastErrorValue(Win32ErrorForPath(errno, path));
        return false;
    }
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kFileAttributeReadOnly) ? (mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH))
                                                 : (mode | S_IWUSR);
    if (::chmod(path, mode) != 0) {
        SetLastErrorValue(Win32ErrorFromErrno(errno));
        return false;
    }
    return true;
}

bool CreateFolder(const char* path)
{
    if (::mkdir(path, 0777) != 0) {
        SetLastErrorValue(errno == EEXIST ? kErrorAlreadyExists : Win32ErrorForPath(errno, path));
        return false;
    }
    return true;
}

bool DeletePath(const char* path)
{
    struct stat st;
    if (::lstat(path, &st) != 0) {
        SetLastErrorValue(Win32ErrorForPath(errno, path));
        return false;
    }
    // DeleteFileA refuses folders and read-only files.
    if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR))) {
        SetLastErrorValue(kErrorAccessDenied);
        return false;
    }
    if (::unlink(path) != 0) {
        SetLastErrorValue(Win32ErrorFromErrno(errno));
        return false;
    }
    return true;
}

bool CreateUniqueFile(const char* folder, const char* prefix, char* path)
{
    // Like GetTempFileNameA: four hex digits from a counter that starts at a
    // value of its own, tried until one is free.
    static unsigned next = static_cast<unsigned>(::getpid()) * 7919u;
    std::string base(folder);
    if (base.empty() || base.back() != '/')
        base += '/';
    base += prefix;
    for (unsigned tries = 0; tries < 0x10000; ++tries) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", (next++ & 0xFFFFu));
        const std::string candidate = base + digits + ".tmp";
        if (candidate.size() >= static_cast<size_t>(kMaxPath)) {
            SetLastErrorValue(kErrorFilenameExcedRange);
            return false;
        }
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            std::memcpy(path, candidate.c_str(), candidate.size() + 1);
            return true;
        }
        if (errno != EEXIST) {
            SetLastErrorValue(Win32ErrorForPath(errno, candidate.c_str()));
            return false;
        }
    }
    SetLastErrorValue(kErrorFileExists);
    return false;
}

bool ReplacePath(const char* from, const char* to)
{
    struct stat st;
    // MoveFileExA does not replace a folder.
    if (::stat(to, &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastErrorValue(kErrorAccessDenied);
        return false;
    }
    if (::rename(from, to) != 0) {
        SetLastErrorValue(Win32ErrorForPath(errno, to));
        return false;
    }
    return true;
}

bool IsLeadByte(uint8_t) { return false; }

void RestrictDllSearchToSystemFolder() {}
