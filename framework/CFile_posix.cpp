// CFile on POSIX descriptors, reporting Win32 error numbers.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "CFile.h"
#include "PosixErrors.h"

namespace {

int ToFd(NativeHandle h) { return static_cast<int>(h) - 1; }

}  // namespace

int CFile::Open(const char* path, unsigned openFlags, CFileException* error)
{
    Abort();
    int flags = O_CLOEXEC;
    switch (openFlags & 3) {
    case modeWrite: flags |= O_WRONLY; break;
    case modeReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
    }
    if (openFlags & modeCreate) {
        flags |= O_CREAT;
        if (!(openFlags & modeNoTruncate))
            flags |= O_TRUNC;
    }
    int fd = ::open(path, flags, 0666);
    if (fd >= 0) {
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            fd = -1;
            errno = EISDIR;
        }
    }
    if (fd < 0) {
        uint32_t code = Win32ErrorForPath(errno, path);
        SetLastErrorValue(code);
        if (error) {
            error->m_lOsError = static_cast<long>(code);
            error->m_cause = CFileException::OsErrorToException(error->m_lOsError);
            error->m_strFileName = path;
        }
        return 0;
    }
    handle_ = static_cast<NativeHandle>(fd) + 1;
    path_ = path;
    return 1;
}

void CFile::ThrowLastError() const
{
    uint32_t code = Win32ErrorFromErrno(errno);
    SetLastErrorValue(code);
    throw CFileException(CFileException::OsErrorToException(static_cast<long>(code)),
                         static_cast<long>(code), path_);
}

unsigned CFile::Read(void* buffer, unsigned count)
{
    unsigned done = 0;
    while (done < count) {
        ssize_t n = ::read(ToFd(handle_), static_cast<char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowLastError();
        }
        if (n == 0)
            break;
        done += static_cast<unsigned>(n);
    }
    return done;
}

void CFile::Write(const void* buffer, unsigned count)
{
    unsigned done = 0;
    while (done < count) {
        ssize_t n = ::write(ToFd(handle_), static_cast<const char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowLastError();
        }
        if (n == 0) {
            errno = ENOSPC;
            ThrowLastError();
        }
        done += static_cast<unsigned>(n);
    }
}

void CFile::Flush()
{
    if (handle_ && ::fsync(ToFd(handle_)) != 0 && errno != EINVAL)
        ThrowLastError();
}

uint64_t CFile::Seek(int64_t offset, unsigned from)
{
    int whence = from == current ? SEEK_CUR : from == end ? SEEK_END : SEEK_SET;
    off_t at = ::lseek(ToFd(handle_), static_cast<off_t>(offset), whence);
    if (at < 0)
        ThrowLastError();
    return static_cast<uint64_t>(at);
}

uint64_t CFile::GetLength() const
{
    struct stat st;
    if (::fstat(ToFd(handle_), &st) != 0)
        ThrowLastError();
    return static_cast<uint64_t>(st.st_size);
}

void CFile::Close()
{
    if (handle_ == 0)
        return;
    int fd = ToFd(handle_);
    handle_ = 0;
    path_.Empty();
    if (::close(fd) != 0)
        ThrowLastError();
}

void CFile::Abort()
{
    if (handle_ == 0)
        return;
    LastErrorGuard keep;
    ::close(ToFd(handle_));
    handle_ = 0;
    path_.Empty();
}
