// Growable array of CString with the application framework's names.
#pragma once

#include <vector>

#include "CString.h"

class CStringArray {
public:
    int GetSize() const { return static_cast<int>(items_.size()); }
    int GetCount() const { return GetSize(); }
    int GetUpperBound() const { return GetSize() - 1; }
    bool IsEmpty() const { return items_.empty(); }

    // Returns the index of the new element.
    int Add(const CString& item)
    {
        items_.push_back(item);
        return GetUpperBound();
    }
    const CString& GetAt(int index) const { return items_.at(static_cast<size_t>(index)); }
    CString& ElementAt(int index) { return items_.at(static_cast<size_t>(index)); }
    void SetAt(int index, const CString& item) { items_.at(static_cast<size_t>(index)) = item; }
    const CString& operator[](int index) const { return GetAt(index); }
    CString& operator[](int index) { return ElementAt(index); }

    void InsertAt(int index, const CString& item)
    {
        items_.insert(items_.begin() + index, item);
    }
    void RemoveAt(int index, int count = 1)
    {
        items_.erase(items_.begin() + index, items_.begin() + index + count);
    }
    void RemoveAll() { items_.clear(); }

private:
    std::vector<CString> items_;
};
