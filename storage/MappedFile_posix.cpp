// Mapped file and memory block on POSIX open/fstat/mmap, with Win32 results and error numbers.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "MappedFile.h"
#include "PosixErrors.h"

namespace {

int ToFd(NativeHandle h) { return static_cast<int>(h) - 1; }

// The descriptor is closed without disturbing errno or the last-error value.
void CloseQuietly(int fd)
{
    int saved = errno;
    ::close(fd);
    errno = saved;
}

// open() flags for a CreateFileA creation disposition; -1 for an unknown one.
int DispositionFlags(uint32_t disposition)
{
    switch (disposition) {
    case kCreateNew: return O_CREAT | O_EXCL;
    case kCreateAlways: return O_CREAT | O_TRUNC;
    case kOpenExisting: return 0;
    case kOpenAlways: return O_CREAT;
    case kTruncateExisting: return O_TRUNC;
    default: return -1;
    }
}

// A shared-memory object name for a mapping name: one leading slash, no others.
std::string SharedMemoryName(const char* name)
{
    std::string result = "/oem.";
    for (const char* p = name; *p; ++p)
        result += (*p == '/' || *p == '\\') ? '_' : *p;
    return result;
}

}  // namespace

int MappedFile::PlatformOpenFile(const char* path, bool readOnly, uint32_t creationDisposition, uint32_t extraSize,
                                 bool /*shareRename: POSIX never stops a rename*/)
{
    int flags = DispositionFlags(creationDisposition);
    if (flags < 0) {
        SetLastErrorValue(kErrorInvalidParameter);
        return 0;
    }
    int fd = ::open(path, flags | (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC, 0666);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) != 0) {
        CloseQuietly(fd);
        fd = -1;
    }
    if (fd >= 0 && S_ISDIR(st.st_mode)) {
        CloseQuietly(fd);
        fd = -1;
        errno = EISDIR;
    }
    if (fd < 0) {
        SetLastErrorValue(Win32ErrorForPath(errno, path));
        file_ = 0;
        return 0;
    }
    file_ = static_cast<NativeHandle>(fd) + 1;
    uint32_t fileSize = static_cast<uint32_t>(st.st_size);
    uint32_t size = fileSize + extraSize;

    // The mapping step: an empty mapping is invalid; a read-only one cannot
    // reach past the end of the file; a writable one lengthens the file.
    uint32_t mappingError = kErrorSuccess;
    if (size == 0)
        mappingError = kErrorFileInvalid;
    else if (size > fileSize && readOnly)
        mappingError = kErrorNotEnoughMemory;
    else if (size > fileSize && ::ftruncate(fd, static_cast<off_t>(size)) != 0)
        mappingError = Win32ErrorFromErrno(errno);
    if (mappingError != kErrorSuccess) {
        SetLastErrorValue(mappingError);
        LastErrorGuard keep;
        ::close(fd);
        file_ = 0;
        return 0;
    }

    void* view = ::mmap(nullptr, size, readOnly ? PROT_READ : (PROT_READ | PROT_WRITE), MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        SetLastErrorValue(Win32ErrorFromErrno(errno));
        LastErrorGuard keep;
        ::close(fd);
        file_ = 0;
        return 0;
    }
    // No separate mapping object exists here; the handle only marks the mapping as present.
    mapping_ = 1;
    view_ = static_cast<uint8_t*>(view);
    length_ = capacity_ = size;
    SetLastErrorValue(kErrorSuccess);
    return 1;
}

int MappedFile::PlatformCreateMemory(const char* name, uint32_t capacity)
{
    void* view;
    if (name == nullptr) {
        // Anonymous pages read as zero, like fresh paging-file pages.
        view = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (view == MAP_FAILED) {
            SetLastErrorValue(kErrorNotEnoughMemory);
            return 0;
        }
        mapping_ = 1;
        SetLastErrorValue(kErrorSuccess);
    } else {
        std::string shmName = SharedMemoryName(name);
        int existed = 0;
        int fd = ::shm_open(shmName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            existed = 1;
            fd = ::shm_open(shmName.c_str(), O_RDWR | O_CLOEXEC, 0600);
        }
        if (fd < 0) {
            SetLastErrorValue(Win32ErrorFromErrno(errno));
            return 0;
        }
        struct stat st;
        if ((!existed && ::ftruncate(fd, static_cast<off_t>(capacity)) != 0) || ::fstat(fd, &st) != 0) {
            SetLastErrorValue(Win32ErrorFromErrno(errno));
            LastErrorGuard keep;
            ::close(fd);
            if (!existed)
                ::shm_unlink(shmName.c_str());
            return 0;
        }
        // An existing block is mapped as it is; asking for more than it holds fails.
        if (static_cast<uint64_t>(st.st_size) < capacity) {
            SetLastErrorValue(kErrorAccessDenied);
            ::close(fd);
            return 0;
        }
        view = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        uint32_t mapError = view == MAP_FAILED ? Win32ErrorFromErrno(errno) : kErrorSuccess;
        ::close(fd);
        if (view == MAP_FAILED) {
            SetLastErrorValue(mapError);
            if (!existed)
                ::shm_unlink(shmName.c_str());
            return 0;
        }
        // The creator removes the name on close; blocks already mapped stay valid.
        mapping_ = 1;
        alreadyExisted_ = existed;
        if (!existed)
            sharedName_ = shmName;
        SetLastErrorValue(existed ? kErrorAlreadyExists : kErrorSuccess);
    }
    view_ = static_cast<uint8_t*>(view);
    return 1;
}

void MappedFile::PlatformClose(int flush)
{
    if (flush && state_ == kFile && view_)
        ::msync(view_, capacity_, MS_SYNC);
    if (view_)
        ::munmap(view_, capacity_);
    if (file_)
        ::close(ToFd(file_));
    if (!sharedName_.empty()) {
        ::shm_unlink(sharedName_.c_str());
        sharedName_.clear();
    }
}
