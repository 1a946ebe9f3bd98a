// Loading system DLLs from the system folder only.
#include "SystemLibrary.h"

#include <cstring>

#include "SystemApi.h"

SystemLibrary::SystemLibrary(const char* fileName)
{
    // Loading on first use must not disturb the error of the caller's own calls.
    LastErrorGuard keep;
    module_ = LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A loader without the search flags refuses them as an invalid parameter;
    // a full path then keeps the load inside the system folder all the same.
    if (!module_ && GetLastError() == ERROR_INVALID_PARAMETER) {
        char path[MAX_PATH];
        UINT folderLength = GetSystemDirectoryA(path, MAX_PATH);
        size_t nameLength = std::strlen(fileName);
        if (folderLength == 0 || folderLength >= MAX_PATH) {
            if (folderLength >= MAX_PATH)
                SetLastError(ERROR_FILENAME_EXCED_RANGE);
        } else if (nameLength >= MAX_PATH - folderLength - 1) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        } else {
            path[folderLength] = '\\';
            std::memcpy(path + folderLength + 1, fileName, nameLength + 1);
            module_ = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    if (!module_)
        loadError_ = GetLastError() ? GetLastError() : ERROR_MOD_NOT_FOUND;
}

SystemLibrary::~SystemLibrary()
{
    if (module_)
        FreeLibrary(module_);
}

FARPROC SystemLibrary::Find(const char* functionName) const
{
    if (!module_) {
        SetLastError(loadError_);
        return nullptr;
    }
    return GetProcAddress(module_, functionName);
}
