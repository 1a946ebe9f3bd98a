// Folder utilities shared by the launcher and the package unpacker.
#include "FolderUtilities.h"

#include <io.h>
#include <mbstring.h>
#include <winternl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "DeleteTreeHook.h"
#include "ErrorLog.h"
#include "ObjectHandle.h"

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

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006L);

DeleteTreeHook g_deleteTreeHook = nullptr;

// The native calls that open, list and delete relative to a folder's handle.
// Taken from ntdll at run time: they exist on every Windows NT, and need no
// import library.
struct NtFileCalls {
    using CreateFileCall = NTSTATUS(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*,
                                            LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG);
    using QueryDirectoryCall = NTSTATUS(NTAPI*)(HANDLE, HANDLE, void*, void*, IO_STATUS_BLOCK*, void*, ULONG,
                                                FILE_INFORMATION_CLASS, BOOLEAN, UNICODE_STRING*, BOOLEAN);
    using SetInformationCall = NTSTATUS(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, FILE_INFORMATION_CLASS);
    using StatusToErrorCall = ULONG(NTAPI*)(NTSTATUS);
    using ToNtPathCall = BOOLEAN(NTAPI*)(const wchar_t*, UNICODE_STRING*, const wchar_t**, void*);
    using FreeStringCall = void(NTAPI*)(UNICODE_STRING*);

    CreateFileCall create = nullptr;
    QueryDirectoryCall query = nullptr;
    SetInformationCall set = nullptr;
    StatusToErrorCall toError = nullptr;
    ToNtPathCall toNtPath = nullptr;
    FreeStringCall freeString = nullptr;

    bool Available() const { return create && query && set; }

    static const NtFileCalls& Get()
    {
        static const NtFileCalls calls = [] {
            NtFileCalls c;
            HMODULE ntdll = GetModuleHandleA("ntdll.dll");
            if (ntdll) {
                auto load = [ntdll](const char* name) { return reinterpret_cast<void*>(GetProcAddress(ntdll, name)); };
                c.create = reinterpret_cast<CreateFileCall>(load("NtCreateFile"));
                c.query = reinterpret_cast<QueryDirectoryCall>(load("NtQueryDirectoryFile"));
                c.set = reinterpret_cast<SetInformationCall>(load("NtSetInformationFile"));
                c.toError = reinterpret_cast<StatusToErrorCall>(load("RtlNtStatusToDosError"));
                c.toNtPath = reinterpret_cast<ToNtPathCall>(load("RtlDosPathNameToNtPathName_U"));
                c.freeString = reinterpret_cast<FreeStringCall>(load("RtlFreeUnicodeString"));
            }
            return c;
        }();
        return calls;
    }
};

// One entry of a folder as its handle lists it.
struct ListedChild {
    std::wstring name;
    std::string ansiName;
    uint64_t id;
    bool folder;
    bool link;
};

// Reads the whole listing through the folder's handle (FileIdBothDirectoryInformation).
// false when the folder cannot be listed.
bool ListChildren(const NtFileCalls& nt, HANDLE folder, std::vector<ListedChild>* children)
{
    std::vector<unsigned char> buffer(64 * 1024);
    for (bool restart = true;; restart = false) {
        IO_STATUS_BLOCK io = {};
        NTSTATUS status = nt.query(folder, nullptr, nullptr, nullptr, &io, buffer.data(),
                                   static_cast<ULONG>(buffer.size()), FileIdBothDirectoryInformation, FALSE,
                                   nullptr, restart ? TRUE : FALSE);
        if (status == kStatusNoMoreFiles)
            return true;
        if (status < 0)
            return false;
        // Each record: next offset at 0, attributes at 56, name length in
        // bytes at 60, file id at 96, the name at 104.
        size_t filled = static_cast<size_t>(io.Information);
        for (size_t at = 0; at + 104 <= filled;) {
            ULONG next = 0, attributes = 0, nameBytes = 0;
            LARGE_INTEGER id;
            memcpy(&next, &buffer[at], 4);
            memcpy(&attributes, &buffer[at + 56], 4);
            memcpy(&nameBytes, &buffer[at + 60], 4);
            memcpy(&id, &buffer[at + 96], 8);
            if (nameBytes > filled - at - 104)
                return false;
            ListedChild child;
            child.name.resize(nameBytes / sizeof(wchar_t));
            memcpy(&child.name[0], &buffer[at + 104], child.name.size() * sizeof(wchar_t));
            child.id = static_cast<uint64_t>(id.QuadPart);
            child.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            child.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (child.name != L"." && child.name != L"..")
                children->push_back(std::move(child));
            if (next == 0)
                break;
            at += next;
        }
    }
}

// The name in the ANSI code page, as the log and the path limit count it.
std::string AnsiName(const std::wstring& name)
{
    int bytes = WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), nullptr, 0, nullptr,
                                    nullptr);
    std::string ansi(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), &ansi[0], bytes, nullptr,
                            nullptr);
    return ansi;
}

// Opens name inside the folder behind parent, never through a link. A folder
// that cannot be opened for deletion (another process's current folder) is
// opened for listing only, so that its contents can still go.
HANDLE OpenChild(const NtFileCalls& nt, HANDLE parent, const std::wstring& name, bool folder,
                 bool forDeletion = true)
{
    UNICODE_STRING text;
    text.Buffer = const_cast<wchar_t*>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE child = INVALID_HANDLE_VALUE;
    ACCESS_MASK access = (forDeletion ? DELETE : 0) | FILE_READ_ATTRIBUTES | SYNCHRONIZE |
                         (folder ? FILE_LIST_DIRECTORY : 0);
    NTSTATUS status = nt.create(&child, access, &attributes, &io, nullptr, 0, kShareAll, FILE_OPEN,
                                FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT,
                                nullptr, 0);
    if (status < 0 && folder && forDeletion)
        return OpenChild(nt, parent, name, folder, false);
    return status < 0 ? INVALID_HANDLE_VALUE : child;
}

// Marks the open entry for deletion; it goes when its last handle closes.
// Refused, as by DeleteFile, for a read-only file and a folder that is not empty.
void DeleteThroughHandle(const NtFileCalls& nt, HANDLE entry)
{
    FILE_DISPOSITION_INFORMATION disposition = {TRUE};
    IO_STATUS_BLOCK io = {};
    nt.set(entry, &io, &disposition, sizeof disposition, FileDispositionInformation);
}

bool IsLink(const BY_HANDLE_FILE_INFORMATION& info) { return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool IsFolder(const BY_HANDLE_FILE_INFORMATION& info) { return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Deletes an entry already open; path (its ANSI path) names it in log records.
// listedAsLink: the listing showed a reparse point there. A link, by the
// listing or by the handle, is deleted and never entered: where a link cannot
// be opened as itself (Wine follows it), the handle alone would not tell.
void DeleteOpenEntry(const NtFileCalls& nt, ObjectHandle& entry, const BY_HANDLE_FILE_INFORMATION& info,
                     bool listedAsLink, const char* path)
{
    if (IsFolder(info) && !IsLink(info) && !listedAsLink) {
        std::vector<ListedChild> children;
        if (!nt.Available() || !ListChildren(nt, entry.Get(), &children))
            return;
        size_t pathLength = strlen(path);
        for (ListedChild& child : children) {
            child.ansiName = AnsiName(child.name);
            // The same limits as for a path: a folder must leave room for "\*.*".
            size_t limit = MAX_PATH - (child.folder && !child.link ? 4 : 0);
            if (pathLength + 1 + child.ansiName.size() >= limit) {
                LogError("Path too long, not deleted: %s\\%s", path, child.ansiName.c_str());
                continue;
            }
            char childPath[MAX_PATH];
            JoinPath(childPath, path, "\\", child.ansiName.c_str());
            if (child.folder && g_deleteTreeHook)
                g_deleteTreeHook(childPath);
            ObjectHandle opened(OpenChild(nt, entry.Get(), child.name, child.folder));
            BY_HANDLE_FILE_INFORMATION childInfo;
            if (!opened.Valid() || !GetFileInformationByHandle(opened.Get(), &childInfo))
                continue;
            // Opened relative to the folder and as itself, it is what was
            // listed; the identity check holds even where links are followed.
            uint64_t id = (static_cast<uint64_t>(childInfo.nFileIndexHigh) << 32) | childInfo.nFileIndexLow;
            if (!IsLink(childInfo) && (id != child.id || childInfo.dwVolumeSerialNumber != info.dwVolumeSerialNumber))
                continue;
            DeleteOpenEntry(nt, opened, childInfo, child.link, childPath);
        }
    }
    if (nt.Available())
        DeleteThroughHandle(nt, entry.Get());
    entry.Reset(INVALID_HANDLE_VALUE);
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

    const NtFileCalls& nt = NtFileCalls::Get();
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
            continue;
        bool listedAsLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        // A folder to be entered must leave room for "\*.*", as its search pattern once did.
        bool toEnter = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !listedAsLink;
        char path[MAX_PATH];
        if (!JoinPath(path, folder, found.cFileName, toEnter ? "\\*.*" : "")) {
            LogError("Path too long, not deleted: %s%s", folder, found.cFileName);
            continue;
        }
        if (toEnter)
            path[strlen(path) - 4] = '\0';
        // What the search saw may have been replaced since: the entry is
        // judged by what the open handle is, and a link is opened as itself.
        ObjectHandle entry(CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                       kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!entry.Valid())
            entry.Reset(CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr));
        // Some other process's current folder: it stays, its contents need not.
        if (!entry.Valid() && toEnter)
            entry.Reset(CreateFileA(path, FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        if (!entry.Valid() || !GetFileInformationByHandle(entry.Get(), &info))
            continue;
        DeleteOpenEntry(nt, entry, info, listedAsLink, path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return 1;
}

HANDLE CreateHeldFolder(const char* path, SECURITY_ATTRIBUTES* security)
{
    const NtFileCalls& nt = NtFileCalls::Get();
    if (!nt.create || !nt.toError || !nt.toNtPath || !nt.freeString) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // CreateDirectoryA would leave a moment between making the folder and
    // opening it in which someone could rename it and put another in its
    // place: one call makes the folder and opens it.
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (wideLength <= 1) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    std::wstring widePath(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path, -1, &widePath[0], wideLength);
    UNICODE_STRING ntPath = {};
    if (!nt.toNtPath(widePath.c_str(), &ntPath, nullptr, nullptr)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &ntPath, OBJ_CASE_INSENSITIVE, nullptr,
                               security ? security->lpSecurityDescriptor : nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE created = INVALID_HANDLE_VALUE;
    // Listing access counts for sharing: a handle without it would let a
    // rename through whatever its share mode says.
    const NTSTATUS status = nt.create(&created, FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE, &attributes, &io,
                                      nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                                      FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    nt.freeString(&ntPath);
    if (status < 0) {
        SetLastError(nt.toError(status));
        return INVALID_HANDLE_VALUE;
    }
    return created;
}

void SetDeleteTreeHook(DeleteTreeHook hook)
{
    g_deleteTreeHook = hook;
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
