// Portable system facilities on the Win32 API.
#include <windows.h>
#include <io.h>
#include <mbstring.h>

#include "SystemApi.h"

uint32_t GetLastErrorValue() { return GetLastError(); }

void SetLastErrorValue(uint32_t code) { SetLastError(code); }

int CompareNoCase(const char* a, const char* b) { return lstrcmpiA(a, b); }

int CompareMbs(const char* a, const char* b)
{
    return _mbscmp(reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b));
}

int CompareMbsNoCase(const char* a, const char* b)
{
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b));
}

uint32_t GetPathAttributes(const char* path) { return GetFileAttributesA(path); }

bool GetHandleTimes(NativeHandle file, FileTime* creation, FileTime* lastAccess, FileTime* lastWrite)
{
    FILETIME c, a, w;
    if (!GetFileTime(reinterpret_cast<HANDLE>(file), &c, &a, &w))
        return false;
    if (creation)
        *creation = {c.dwLowDateTime, c.dwHighDateTime};
    if (lastAccess)
        *lastAccess = {a.dwLowDateTime, a.dwHighDateTime};
    if (lastWrite)
        *lastWrite = {w.dwLowDateTime, w.dwHighDateTime};
    return true;
}

bool SetHandleTimes(NativeHandle file, const FileTime* creation, const FileTime* lastAccess,
                    const FileTime* lastWrite)
{
    FILETIME c, a, w;
    if (creation)
        c = {creation->lowDateTime, creation->highDateTime};
    if (lastAccess)
        a = {lastAccess->lowDateTime, lastAccess->highDateTime};
    if (lastWrite)
        w = {lastWrite->lowDateTime, lastWrite->highDateTime};
    return SetFileTime(reinterpret_cast<HANDLE>(file), creation ? &c : nullptr, lastAccess ? &a : nullptr,
                       lastWrite ? &w : nullptr) != 0;
}

FileTime GetSystemFileTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return {now.dwLowDateTime, now.dwHighDateTime};
}

bool PathExists(const char* path) { return _access(path, 0) == 0; }

const char kPathSeparator = '\\';

bool SetPathAttributes(const char* path, uint32_t attributes) { return SetFileAttributesA(path, attributes) != 0; }

bool CreateFolder(const char* path) { return CreateDirectoryA(path, nullptr) != 0; }

bool DeletePath(const char* path) { return DeleteFileA(path) != 0; }

bool CreateUniqueFile(const char* folder, const char* prefix, char* path)
{
    return GetTempFileNameA(folder, prefix, 0, path) != 0;
}

bool ReplacePath(const char* from, const char* to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != 0;
}

bool IsLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte) != 0; }

void RestrictDllSearchToSystemFolder()
{
    // Looked up rather than imported: Windows XP and an unpatched Windows 7 lack
    // SetDefaultDllDirectories, and the program must still start there.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel)
        return;
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    auto setDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDllDirectoryA")));
    // Only the start-up state changes: the thread's last error stays as it was.
    LastErrorGuard keep;
    if (setDefault)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (setDirectory)
        setDirectory("");
}
