// A system DLL loaded from the system folder on first use instead of imported.
//
// Only known DLLs (those Windows always takes from the system folder) are
// imported by our programs. Any other system DLL is a SystemLibrary: loaded by
// name with LOAD_LIBRARY_SEARCH_SYSTEM32, so that a DLL of the same name
// beside the program or in the current folder is never the one that runs.
#pragma once

#include <windows.h>

class SystemLibrary {
public:
    // Loads fileName (a bare name such as "version.dll") from the system folder.
    // Where the system does not know LOAD_LIBRARY_SEARCH_SYSTEM32 (before
    // KB2533623), the full path in the system folder is loaded instead. The
    // thread's last error stays as it was; a failed load is kept and reported
    // by Find.
    explicit SystemLibrary(const char* fileName);
    // Frees the library.
    ~SystemLibrary();
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    bool IsLoaded() const { return module_ != nullptr; }
    // GetProcAddress on the library. nullptr with the last error set when the
    // function is missing (ERROR_PROC_NOT_FOUND) or the library could not be
    // loaded (the load's own error, e.g. ERROR_MOD_NOT_FOUND).
    FARPROC Find(const char* functionName) const;
    // Find, typed: Function<decltype(&GetFileVersionInfoA)>("GetFileVersionInfoA").
    template <class FunctionPointer>
    FunctionPointer Function(const char* functionName) const
    {
        return reinterpret_cast<FunctionPointer>(reinterpret_cast<void (*)()>(Find(functionName)));
    }

private:
    HMODULE module_ = nullptr;
    DWORD loadError_ = ERROR_SUCCESS;
};
