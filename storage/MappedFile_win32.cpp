// Mapped file and memory block on the Win32 file-mapping and virtual-memory calls.
#include <windows.h>

#include "MappedFile.h"

namespace {

HANDLE ToHandle(NativeHandle h) { return reinterpret_cast<HANDLE>(h); }
NativeHandle FromHandle(HANDLE h) { return reinterpret_cast<NativeHandle>(h); }

}  // namespace

int MappedFile::PlatformOpenFile(const char* path, bool readOnly, uint32_t creationDisposition, uint32_t extraSize,
                                 bool shareRename)
{
    // A read-only open shares writing too, so that a file its writer still
    // holds (shared for reading only, as the launcher holds setup.oem) can be
    // mapped; a read-write open admits readers only. An open package is
    // mapped with shareRename, so that Save can put a new file in its place.
    DWORD share = FILE_SHARE_READ;
    if (readOnly)
        share |= FILE_SHARE_WRITE;
    if (shareRename)
        share |= FILE_SHARE_DELETE;
    HANDLE file = CreateFileA(path, readOnly ? GENERIC_READ : (GENERIC_READ | GENERIC_WRITE), share, nullptr,
                              creationDisposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        file_ = 0;
        return 0;
    }
    file_ = FromHandle(file);
    // Only the low 32 bits of the size are used; the sum wraps like the platform's.
    uint32_t size = GetFileSize(file, nullptr) + extraSize;

    HANDLE mapping = CreateFileMappingA(file, nullptr, readOnly ? PAGE_READONLY : PAGE_READWRITE, 0, size, nullptr);
    if (mapping == nullptr) {
        LastErrorGuard keep;
        CloseHandle(file);
        file_ = 0;
        return 0;
    }
    mapping_ = FromHandle(mapping);

    void* view = MapViewOfFile(mapping, readOnly ? FILE_MAP_READ : (FILE_MAP_READ | FILE_MAP_WRITE), 0, 0, size);
    if (view == nullptr) {
        LastErrorGuard keep;
        CloseHandle(mapping);
        CloseHandle(file);
        mapping_ = 0;
        file_ = 0;
        return 0;
    }
    view_ = static_cast<uint8_t*>(view);
    length_ = capacity_ = size;
    return 1;
}

int MappedFile::PlatformCreateMemory(const char* name, uint32_t capacity)
{
    if (name == nullptr) {
        // Nothing else can open an unnamed block, so committed private memory
        // serves: it reads as zero like fresh paging-file pages and costs one
        // fault per page, where Wine backs a paging-file section with a
        // temporary file and pays a file-system write path on every first touch.
        // mapping_ stays 0: PlatformClose frees such a view with VirtualFree.
        void* view = VirtualAlloc(nullptr, capacity, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (view == nullptr)
            return 0;
        view_ = static_cast<uint8_t*>(view);
        // A created paging-file section leaves 0 here too.
        SetLastError(ERROR_SUCCESS);
        return 1;
    }
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, capacity, name);
    if (mapping == nullptr)
        return 0;
    mapping_ = FromHandle(mapping);
    alreadyExisted_ = GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0;

    void* view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, capacity);
    if (view == nullptr) {
        LastErrorGuard keep;
        CloseHandle(mapping);
        mapping_ = 0;
        alreadyExisted_ = 0;
        return 0;
    }
    view_ = static_cast<uint8_t*>(view);
    return 1;
}

void MappedFile::PlatformClose(int flush)
{
    if (flush && state_ == kFile && view_)
        FlushViewOfFile(view_, 0);
    if (view_ && state_ == kMemory && !mapping_)
        VirtualFree(view_, 0, MEM_RELEASE);
    else if (view_)
        UnmapViewOfFile(view_);
    if (mapping_)
        CloseHandle(ToHandle(mapping_));
    if (file_)
        CloseHandle(ToHandle(file_));
}
