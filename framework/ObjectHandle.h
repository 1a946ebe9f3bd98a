// One kernel handle owned: closed when replaced and at the end of its owner's scope.
#pragma once

#include <windows.h>

class ObjectHandle {
public:
    explicit ObjectHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~ObjectHandle() { Reset(INVALID_HANDLE_VALUE); }
    ObjectHandle(const ObjectHandle&) = delete;
    ObjectHandle& operator=(const ObjectHandle&) = delete;
    HANDLE Get() const { return handle_; }
    // Neither INVALID_HANDLE_VALUE (what file calls fail with) nor null (what the others fail with).
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    void Reset(HANDLE handle)
    {
        if (Valid())
            CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};
