// Growable ordered array of untyped pointers.
#include "PointerArray.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

PointerArray::~PointerArray() { delete[] data_; }

void* PointerArray::GetAt(int index) const
{
    if (index < 0 || index >= size_)
        return nullptr;
    return data_[index];
}

void PointerArray::SetAt(int index, void* element)
{
    if (index < 0 || index >= size_)
        return;
    data_[index] = element;
}

void PointerArray::SetAtGrow(int index, void* element)
{
    if (index < 0)
        return;
    if (index >= size_) {
        if (index == INT32_MAX)
            throw std::bad_alloc();
        SetSize(index + 1);
    }
    data_[index] = element;
}

int PointerArray::Add(void* element)
{
    int index = size_;
    SetAtGrow(index, element);
    return index;
}

void PointerArray::RemoveAt(int index, int count)
{
    if (index < 0 || index >= size_ || count <= 0)
        return;
    count = std::min(count, size_ - index);
    int behind = size_ - (index + count);
    if (behind > 0)
        std::memmove(data_ + index, data_ + index + count, static_cast<size_t>(behind) * sizeof(void*));
    size_ -= count;
}

void PointerArray::SetSize(int newSize, int growBy)
{
    if (growBy >= 0)
        growBy_ = growBy;
    if (newSize < 0)
        return;
    if (newSize == 0) {
        delete[] data_;
        data_ = nullptr;
        size_ = capacity_ = 0;
        return;
    }
    if (data_ == nullptr) {
        data_ = new void*[static_cast<size_t>(newSize)]();
        size_ = capacity_ = newSize;
        return;
    }
    if (newSize <= capacity_) {
        if (newSize > size_)
            std::fill(data_ + size_, data_ + newSize, nullptr);
        size_ = newSize;
        return;
    }
    int step = growBy_;
    if (step == 0)
        step = std::min(1024, std::max(4, size_ / 8));
    // 64-bit sum: capacity + step cannot wrap; capacities stay within int.
    long long wanted = static_cast<long long>(capacity_) + step;
    int newCapacity = wanted > newSize ? static_cast<int>(std::min<long long>(wanted, INT32_MAX)) : newSize;
    void** grown = new void*[static_cast<size_t>(newCapacity)];
    std::memcpy(grown, data_, static_cast<size_t>(size_) * sizeof(void*));
    std::fill(grown + size_, grown + newCapacity, nullptr);
    delete[] data_;
    data_ = grown;
    size_ = newSize;
    capacity_ = newCapacity;
}
