// A whole file mapped into memory, or an anonymous memory block, seen through one view with a cursor.
//
// State rule: closed (0) -> OpenFile -> file mapping (2); closed -> CreateMemory
// -> memory block (1); Close or destruction -> closed. An open object refuses a
// second open of either kind and stays as it was.
//
// Cursor rule: Read and Write never reach outside the view. A transfer is
// clamped to capacity - position (nothing when the position is at or beyond the
// capacity, which an absolute Seek may leave it at).
//
// Failures report through the result and the thread's last-error value: a
// failed open leaves the object closed with everything it took released, and
// the last-error value holds the error of the platform call that failed
// (CreateFileA, CreateFileMappingA or MapViewOfFile), never that of clean-up.
// Refusals (already open, memory length 0) leave the last-error value alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "SystemApi.h"

class MappedFile {
public:
    // Seek origins.
    enum { kBegin = 0, kCurrent = 1, kEnd = 2 };

    MappedFile() = default;
    // As CreateMemory; the object exists (closed) when that fails.
    MappedFile(const char* name, uint32_t length, uint32_t capacity);
    // As OpenFile; the object exists (closed) when that fails.
    MappedFile(const char* path, int readOnly, uint32_t creationDisposition, uint32_t extraSize);
    // Close without flush.
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Creates a block of zero bytes backed by the paging file (name may be null
    // for an anonymous block). capacity <= length means capacity = length.
    // 1 on success. 0 when already open or length is 0 (last-error untouched),
    // or when the platform fails (last-error = its code).
    int CreateMemory(const char* name, uint32_t length, uint32_t capacity);

    // Maps the whole file at path plus extraSize bytes (32-bit sum). Only the low
    // byte of readOnly counts: non-zero maps read-only, zero read-write (a
    // read-write mapping with extraSize > 0 lengthens the file on disk).
    // creationDisposition is the CreateFileA value (kOpenExisting etc.). On
    // Windows a read-only open shares reading and writing with other handles
    // (a file another handle holds open for writing can be mapped, and may be
    // opened for writing while mapped); a read-write open shares reading only.
    // 1 on success. 0 when already open (nothing changed) or on failure, with
    // the failing call's error: the file cannot be opened (2, 3, 5, 32, 80, 87
    // for an unknown disposition), a mapping of size 0 (1006), a read-only
    // mapping longer than the file (8), a view that cannot be mapped.
    int OpenFile(const char* path, int readOnly, uint32_t creationDisposition, uint32_t extraSize);

    // As OpenFile(path, 1, kOpenExisting, 0), but other openers may also
    // rename the file while it is mapped (on Windows FILE_SHARE_DELETE besides
    // FILE_SHARE_READ): a package whose entries are views of the file can be
    // replaced by a new one without closing them first. Writers are still
    // refused, and a mapped file cannot be deleted or truncated on Windows.
    int OpenShared(const char* path);

    // Makes this closed object a read-only view of length bytes at offset of
    // owner's view, keeping owner open while the view lives. Read, Seek and
    // GetData work as on a file mapping; Write moves nothing; GetFileHandle
    // is 0. 1 on success; 0 (nothing changed) when this object is open, owner
    // is null or closed, length is 0 or the range is not inside owner's view.
    int OpenView(std::shared_ptr<const MappedFile> owner, uint32_t offset, uint32_t length);

    // Releases view, mapping and file; with flush set, a file view is flushed
    // first. Every field returns to 0. Nothing happens on a closed object.
    void Close(int flush = 0);

    // Copy up to count bytes at the cursor; the result is the number moved.
    // Write on a read-only file mapping moves nothing and returns 0.
    uint32_t Read(void* destination, uint32_t count);
    uint32_t Write(const void* source, uint32_t count);

    // origin kBegin: position = offset, unclamped. kCurrent / kEnd: position or
    // capacity plus offset, negative (as signed 32-bit) -> 0, above the capacity
    // -> capacity. Any other origin: unchanged. Returns the new position.
    uint32_t Seek(int32_t offset, int origin);

    // The larger of length and position.
    uint32_t GetSize() const { return length_ > position_ ? length_ : position_; }
    // 0 when closed; n when n equals the length (nothing changes); otherwise the
    // length becomes min(n, capacity), the position 0, and that length returns.
    uint32_t SetLength(uint32_t length);

    uint8_t* GetData() const { return view_; }
    NativeHandle GetFileHandle() const { return file_; }
    uint32_t GetPosition() const { return position_; }
    uint32_t GetLength() const { return length_; }
    uint32_t GetCapacity() const { return capacity_; }
    int IsClosed() const { return state_ == kClosed; }
    int IsMemory() const { return state_ == kMemory; }
    int IsFile() const { return state_ == kFile; }
    int IsView() const { return state_ == kView; }
    // The object a view belongs to; null for anything but a view.
    const std::shared_ptr<const MappedFile>& GetViewOwner() const { return owner_; }
    // 1 when CreateMemory with a name found a mapping of that name already present.
    int AlreadyExisted() const { return alreadyExisted_; }

private:
    enum State : uint32_t { kClosed = 0, kMemory = 1, kFile = 2, kView = 3 };

    // Platform halves (MappedFile_win32.cpp / MappedFile_posix.cpp). Both assume
    // a closed object and, on failure, leave it closed with the error set.
    int PlatformCreateMemory(const char* name, uint32_t capacity);
    int PlatformOpenFile(const char* path, bool readOnly, uint32_t creationDisposition, uint32_t extraSize,
                         bool shareRename);
    void PlatformClose(int flush);
    // How many of count bytes a transfer at the cursor may move: clamped to the view.
    uint32_t Transferable(uint32_t count) const;

    NativeHandle mapping_ = 0;
    int alreadyExisted_ = 0;
    uint8_t* view_ = nullptr;
    uint32_t length_ = 0;
    uint32_t capacity_ = 0;
    State state_ = kClosed;
    NativeHandle file_ = 0;
    uint32_t position_ = 0;
    // A read-only file view; Write refuses it.
    bool readOnly_ = false;
    // A view: the object whose view it borrows.
    std::shared_ptr<const MappedFile> owner_;
    // POSIX only: the shared-memory name this object created and removes on close.
    std::string sharedName_;
};
