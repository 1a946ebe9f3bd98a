// Win32 file-system helpers of the packaging tool: folder listing, paths.
#include "ToolFiles.h"

#include <windows.h>

#include <algorithm>

#include "Console.h"

Status ListFolder(const std::string& folder, std::vector<FolderItem>* items)
{
    items->clear();
    if (folder.size() + 2 >= MAX_PATH)
        return Status::Error(ERROR_FILENAME_EXCED_RANGE, folder + ": path too long");
    DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return SystemFailure(GetLastError(), folder);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return Status::Error(ERROR_DIRECTORY, folder + ": not a folder");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(JoinPath(folder, "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES)
            return Status::Ok();
        return SystemFailure(code, folder);
    }
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        items->push_back(FolderItem{name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                                    (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow});
    } while (FindNextFileA(find, &data));
    DWORD code = GetLastError();
    FindClose(find);
    if (code != ERROR_NO_MORE_FILES)
        return SystemFailure(code, folder);
    std::sort(items->begin(), items->end(),
              [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    return Status::Ok();
}

Status QueryPath(const std::string& path, bool* isFolder, uint64_t* size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return SystemFailure(GetLastError(), path);
    *isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    *size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return Status::Ok();
}

bool SameFile(const std::string& a, const std::string& b)
{
    char fullA[MAX_PATH] = {}, fullB[MAX_PATH] = {};
    DWORD na = GetFullPathNameA(a.c_str(), MAX_PATH, fullA, nullptr);
    DWORD nb = GetFullPathNameA(b.c_str(), MAX_PATH, fullB, nullptr);
    if (na == 0 || nb == 0 || na >= MAX_PATH || nb >= MAX_PATH)
        return false;
    return lstrcmpiA(fullA, fullB) == 0;
}

std::string ProgramFolder()
{
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n < MAX_PATH ? n : 0);
    size_t cut = s.find_last_of('\\');
    return cut == std::string::npos ? std::string(".") : s.substr(0, cut);
}

std::string AnsiToUtf8(const std::string& text)
{
    if (text.empty())
        return text;
    int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0)
        return text;
    std::wstring w(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &w[0], wide);
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return text;
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &out[0], n, nullptr, nullptr);
    return out;
}
