// Folder utilities shared by the launcher and the package unpacker.
#include "FolderUtilities.h"

#include <io.h>
#include <mbstring.h>

#include <cstring>

#include "ErrorLog.h"

namespace {

// Appends "\" when the last character of text is not one; 0 when it would not fit.
int EnsureTrailingBackslash(char* text, size_t size)
{
    const char* last = nullptr;
    for (const char* p = text; *p; p = CharNextA(p))
        last = p;
    if (last && *last == '\\')
        return 1;
    size_t length = strlen(text);
    if (length + 1 >= size)
        return 0;
    text[length] = '\\';
    text[length + 1] = '\0';
    return 1;
}

// Copies a + b into out (MAX_PATH bytes); 0 when the result would not fit.
int JoinPath(char* out, const char* a, const char* b, const char* c = "")
{
    size_t la = strlen(a), lb = strlen(b), lc = strlen(c);
    if (la >= MAX_PATH || lb >= MAX_PATH - la || lc >= MAX_PATH - la - lb)
        return 0;
    memcpy(out, a, la);
    memcpy(out + la, b, lb);
    memcpy(out + la + lb, c, lc + 1);
    return 1;
}

}  // namespace

char* GetTempFolder(char* buffer)
{
    char windows[MAX_PATH] = {};
    char temp[MAX_PATH] = {};
    buffer[0] = '\0';
    UINT windowsLength = GetWindowsDirectoryA(windows, sizeof windows);
    DWORD tempLength = GetTempPathA(sizeof temp, temp);
    if (windowsLength == 0 || windowsLength >= sizeof windows || !EnsureTrailingBackslash(windows, sizeof windows)) {
        LogError("The Windows folder path does not fit %d bytes.", MAX_PATH);
        return buffer;
    }
    if (tempLength == 0 || tempLength >= sizeof temp || !EnsureTrailingBackslash(temp, sizeof temp)) {
        LogError("The temporary path does not fit %d bytes.", MAX_PATH);
        return buffer;
    }
    const char* tail = lstrcmpiA(windows, temp) == 0 ? "Temp\\" : "";
    if (!JoinPath(buffer, temp, tail)) {
        LogError("The temporary path %s%s does not fit %d bytes.", temp, tail, MAX_PATH);
        buffer[0] = '\0';
    }
    return buffer;
}

int CreateFolderTree(CString path)
{
    char buffer[MAX_PATH] = {};
    if (path.GetLength() >= MAX_PATH)
        return 0;
    memcpy(buffer, path.GetString(), static_cast<size_t>(path.GetLength()));
    if (_access(buffer, 0) == 0)
        return 1;
    if (CreateDirectoryA(buffer, nullptr))
        return 1;

    // The parent keeps its trailing "\"; a trailing "\" of the path itself does
    // not count, and a backslash at index 0 cannot end a parent.
    int cut = -1;
    for (char* p = buffer; *p;) {
        char* next = CharNextA(p);
        if (*p == '\\' && p != buffer && *next != '\0')
            cut = static_cast<int>(p - buffer);
        p = next;
    }
    if (cut < 1)
        return 0;
    if (!CreateFolderTree(CString(buffer, cut + 1)))
        return 0;
    return CreateDirectoryA(buffer, nullptr) ? 1 : 0;
}

int DeleteTree(const char* pattern)
{
    size_t patternLength = strlen(pattern);
    if (patternLength >= MAX_PATH) {
        LogError("Path too long, not deleted: %s", pattern);
        return 0;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;

    char folder[MAX_PATH] = {};
    memcpy(folder, pattern, patternLength);
    unsigned char* slash = _mbsrchr(reinterpret_cast<unsigned char*>(folder), '\\');
    if (slash)
        slash[1] = '\0';
    else
        folder[0] = '\0';

    do {
        char path[MAX_PATH];
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (JoinPath(path, folder, found.cFileName))
                DeleteFileA(path);
            else
                LogError("Path too long, not deleted: %s%s", folder, found.cFileName);
            continue;
        }
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction or symbolic link: remove the link, never what it points to.
            if (JoinPath(path, folder, found.cFileName))
                RemoveDirectoryA(path);
            else
                LogError("Path too long, not deleted: %s%s", folder, found.cFileName);
            continue;
        }
        if (!JoinPath(path, folder, found.cFileName, "\\*.*")) {
            LogError("Path too long, not deleted: %s%s", folder, found.cFileName);
            continue;
        }
        DeleteTree(path);
        path[strlen(path) - 3] = '\0';  // "<folder><name>\"
        RemoveDirectoryA(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return 1;
}

void CutAtLastBackslash(char* path)
{
    char* last = nullptr;
    for (char* p = path; *p; p = CharNextA(p)) {
        if (*p == '\\')
            last = p;
    }
    if (last)
        *last = '\0';
}

int GetModuleFolderOf(HMODULE module, char* folder)
{
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(module, path, sizeof path);
    folder[0] = '\0';
    if (length == 0 || length >= sizeof path) {
        LogError("The launcher's own path cannot be read or does not fit %d bytes.", MAX_PATH);
        return 0;
    }
    CutAtLastBackslash(path);
    memcpy(folder, path, strlen(path) + 1);
    return 1;
}
