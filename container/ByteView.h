// Bounds-checked little-endian access to an untrusted byte range.
//
// Every read and write of container bytes goes through these two classes: each
// access checks `offset <= size && length <= size - offset` before touching
// memory, so no offset or length taken from the bytes themselves can reach
// outside the range. Integers are assembled byte by byte (little-endian); no
// structure is ever cast onto the bytes.
#pragma once

#include <cstdint>
#include <cstring>

class ByteView {
public:
    ByteView() = default;
    ByteView(const uint8_t* data, uint32_t size) : data_(data), size_(data ? size : 0) {}

    uint32_t Size() const { return size_; }
    const uint8_t* Data() const { return data_; }

    // True when [offset, offset + length) lies inside the range.
    bool Contains(uint32_t offset, uint32_t length) const
    {
        return offset <= size_ && length <= size_ - offset;
    }

    bool ReadU16(uint32_t offset, uint16_t* value) const
    {
        if (!Contains(offset, 2))
            return false;
        *value = static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8));
        return true;
    }

    bool ReadU32(uint32_t offset, uint32_t* value) const
    {
        if (!Contains(offset, 4))
            return false;
        *value = static_cast<uint32_t>(data_[offset]) | (static_cast<uint32_t>(data_[offset + 1]) << 8) |
                 (static_cast<uint32_t>(data_[offset + 2]) << 16) |
                 (static_cast<uint32_t>(data_[offset + 3]) << 24);
        return true;
    }

    // Points *bytes at the range's [offset, offset + length); false when outside.
    bool Bytes(uint32_t offset, uint32_t length, const uint8_t** bytes) const
    {
        if (!Contains(offset, length))
            return false;
        *bytes = data_ + offset;
        return true;
    }

private:
    const uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
};

class ByteSpan {
public:
    ByteSpan() = default;
    ByteSpan(uint8_t* data, uint32_t size) : data_(data), size_(data ? size : 0) {}

    uint32_t Size() const { return size_; }
    ByteView View() const { return ByteView(data_, size_); }

    bool Contains(uint32_t offset, uint32_t length) const
    {
        return offset <= size_ && length <= size_ - offset;
    }

    bool WriteU16(uint32_t offset, uint16_t value)
    {
        if (!Contains(offset, 2))
            return false;
        data_[offset] = static_cast<uint8_t>(value);
        data_[offset + 1] = static_cast<uint8_t>(value >> 8);
        return true;
    }

    bool WriteU32(uint32_t offset, uint32_t value)
    {
        if (!Contains(offset, 4))
            return false;
        for (int i = 0; i < 4; ++i)
            data_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
        return true;
    }

    bool WriteBytes(uint32_t offset, const void* source, uint32_t length)
    {
        if (!Contains(offset, length))
            return false;
        if (length)
            std::memmove(data_ + offset, source, length);
        return true;
    }

    bool Fill(uint32_t offset, uint8_t value, uint32_t length)
    {
        if (!Contains(offset, length))
            return false;
        if (length)
            std::memset(data_ + offset, value, length);
        return true;
    }

private:
    uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
};
