// Growable ordered array of untyped pointers; it never owns what they point to.
#pragma once

class PointerArray {
public:
    PointerArray() = default;
    ~PointerArray();
    PointerArray(const PointerArray&) = delete;
    PointerArray& operator=(const PointerArray&) = delete;

    int GetSize() const { return size_; }
    int GetCapacity() const { return capacity_; }
    int GetUpperBound() const { return size_ - 1; }

    // Element access; an index outside 0..size-1 reads null and writes nothing.
    void* GetAt(int index) const;
    void SetAt(int index, void* element);
    void* operator[](int index) const { return GetAt(index); }

    // Grows to index + 1 elements (new slots null) when index >= size, then
    // stores. A negative index does nothing.
    void SetAtGrow(int index, void* element);
    // Appends; returns the new element's index.
    int Add(void* element);
    // Takes out count elements from index; those behind move down in order.
    // The range is cut to the elements that exist.
    void RemoveAt(int index, int count = 1);
    // Size and capacity 0, storage freed.
    void RemoveAll() { SetSize(0); }

    // Growth when the new size exceeds the capacity: without storage, exactly
    // the new size; otherwise capacity + step (or the new size if larger), step
    // = grow-by when set, else size / 8 clamped to 4..1024. Shrinking keeps the
    // capacity; size 0 frees the storage. growBy >= 0 replaces the grow-by
    // (0 = the default rule). A negative size does nothing. Throws
    // std::bad_alloc when memory runs out, leaving the array as it was.
    void SetSize(int newSize, int growBy = -1);

private:
    void** data_ = nullptr;
    int size_ = 0;
    int capacity_ = 0;
    int growBy_ = 0;
};
