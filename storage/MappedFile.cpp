// Mapped file and memory block: state rule and cursor, common to both platforms.
#include "MappedFile.h"

#include <cstring>

MappedFile::MappedFile(const char* name, uint32_t length, uint32_t capacity) { CreateMemory(name, length, capacity); }

MappedFile::MappedFile(const char* path, int readOnly, uint32_t creationDisposition, uint32_t extraSize)
{
    OpenFile(path, readOnly, creationDisposition, extraSize);
}

MappedFile::~MappedFile() { Close(0); }

int MappedFile::CreateMemory(const char* name, uint32_t length, uint32_t capacity)
{
    if (state_ != kClosed || length == 0)
        return 0;
    if (capacity <= length)
        capacity = length;
    if (!PlatformCreateMemory(name, capacity))
        return 0;
    state_ = kMemory;
    length_ = length;
    capacity_ = capacity;
    readOnly_ = false;
    return 1;
}

int MappedFile::OpenFile(const char* path, int readOnly, uint32_t creationDisposition, uint32_t extraSize)
{
    if (state_ != kClosed)
        return 0;
    bool ro = (readOnly & 0xFF) != 0;
    if (!PlatformOpenFile(path, ro, creationDisposition, extraSize, false))
        return 0;
    state_ = kFile;
    readOnly_ = ro;
    return 1;
}

int MappedFile::OpenShared(const char* path)
{
    if (state_ != kClosed)
        return 0;
    if (!PlatformOpenFile(path, true, kOpenExisting, 0, true))
        return 0;
    state_ = kFile;
    readOnly_ = true;
    return 1;
}

int MappedFile::OpenView(std::shared_ptr<const MappedFile> owner, uint32_t offset, uint32_t length)
{
    if (state_ != kClosed || !owner || owner->IsClosed() || length == 0 || offset > owner->capacity_ ||
        length > owner->capacity_ - offset)
        return 0;
    view_ = owner->view_ + offset;
    length_ = capacity_ = length;
    owner_ = std::move(owner);
    state_ = kView;
    readOnly_ = true;
    return 1;
}

void MappedFile::Close(int flush)
{
    if (state_ == kClosed)
        return;
    // A view releases only its hold on the owner, which unmaps when it is the last.
    if (state_ == kView)
        owner_.reset();
    else
        PlatformClose(flush);
    mapping_ = 0;
    alreadyExisted_ = 0;
    view_ = nullptr;
    length_ = 0;
    capacity_ = 0;
    state_ = kClosed;
    file_ = 0;
    position_ = 0;
    readOnly_ = false;
}

uint32_t MappedFile::Transferable(uint32_t count) const
{
    if (position_ >= capacity_)
        return 0;
    const uint32_t left = capacity_ - position_;
    return count < left ? count : left;
}

uint32_t MappedFile::Read(void* destination, uint32_t count)
{
    if (view_ == nullptr)
        return 0;
    const uint32_t n = Transferable(count);
    if (n == 0)
        return 0;
    std::memcpy(destination, view_ + position_, n);
    position_ += n;
    return n;
}

uint32_t MappedFile::Write(const void* source, uint32_t count)
{
    if (view_ == nullptr || readOnly_)
        return 0;
    const uint32_t n = Transferable(count);
    if (n == 0)
        return 0;
    // The LZW decoder writes its output one byte per call.
    if (n == 1)
        view_[position_] = *static_cast<const uint8_t*>(source);
    else
        std::memcpy(view_ + position_, source, n);
    position_ += n;
    return n;
}

uint32_t MappedFile::Seek(int32_t offset, int origin)
{
    uint32_t base;
    switch (origin) {
    case kBegin:
        position_ = static_cast<uint32_t>(offset);
        return position_;
    case kCurrent: base = position_; break;
    case kEnd: base = capacity_; break;
    default: return position_;
    }
    // 32-bit sum as the platform computes it; a negative result means before the start.
    uint32_t p = base + static_cast<uint32_t>(offset);
    if (static_cast<int32_t>(p) < 0)
        position_ = 0;
    else
        position_ = p > capacity_ ? capacity_ : p;
    return position_;
}

uint32_t MappedFile::SetLength(uint32_t length)
{
    if (state_ == kClosed)
        return 0;
    if (length == length_)
        return length;
    if (length > capacity_)
        length = capacity_;
    length_ = length;
    position_ = 0;
    return length;
}
