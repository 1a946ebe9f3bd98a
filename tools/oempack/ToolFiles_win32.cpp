// Win32 file-system helpers of the packaging tool.
#include "ToolFiles.h"

#include <windows.h>

#include <algorithm>

#include "CFile.h"
#include "Console.h"
#include "PackageResources.h"

namespace {

std::string Join(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/' || folder.back() == ':'))
        return folder + name;
    return folder + "\\" + name;
}

struct FolderItem {
    std::string name;
    bool isFolder;
    uint64_t size;
};

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
    HANDLE find = FindFirstFileA(Join(folder, "*").c_str(), &data);
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

// Adds the files of one group folder to the plan under group.
Status CollectGroupFolder(const std::string& path, const std::string& group, PackagePlan& plan,
                          std::vector<std::string>* warnings)
{
    std::vector<FolderItem> inner;
    Status status = ListFolder(path, &inner);
    if (!status)
        return status;
    if (inner.empty()) {
        warnings->push_back(path + ": empty folder left out (a group needs files)");
        return Status::Ok();
    }
    for (const FolderItem& file : inner) {
        std::string filePath = Join(path, file.name);
        if (file.isFolder)
            return Status::Error(ERROR_INVALID_PARAMETER,
                                 filePath +
                                     ": folders inside a group folder cannot be packed (entries are plain file names)");
        status = plan.AddFile(group, file.name, filePath, file.size);
        if (!status)
            return status;
    }
    return Status::Ok();
}

}  // namespace

Status CollectFileArguments(const std::vector<FileArgument>& files, PackagePlan& plan)
{
    for (const FileArgument& file : files) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(file.path.c_str(), GetFileExInfoStandard, &data))
            return SystemFailure(GetLastError(), file.path);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            return Status::Error(ERROR_INVALID_PARAMETER,
                                 file.path + ": is a folder (use --from-dir to pack folders)");
        uint64_t size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
        const Status added = plan.AddFile(file.group, FileNameOf(file.path), file.path, size);
        if (!added)
            return added;
    }
    return Status::Ok();
}

Status CollectFolderGroups(const std::string& folder, const std::string& looseGroup, PackagePlan& plan,
                           std::vector<std::string>* warnings)
{
    std::vector<FolderItem> items;
    Status status = ListFolder(folder, &items);
    if (!status)
        return status;
    for (const FolderItem& item : items) {
        std::string path = Join(folder, item.name);
        status = item.isFolder ? CollectGroupFolder(path, item.name, plan, warnings)
                               : plan.AddFile(looseGroup, item.name, path, item.size);
        if (!status)
            return status;
    }
    return Status::Ok();
}

Status ReadWholeFile(const std::string& path, std::string* bytes)
{
    CFile file;
    CFileException cause;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite, &cause))
        return SystemFailure(static_cast<uint32_t>(cause.m_lOsError), path);
    try {
        uint64_t length = file.GetLength();
        if (length > 0x7FFFFFFF)
            return Status::Error(ERROR_FILE_TOO_LARGE, path + ": too large");
        bytes->assign(static_cast<size_t>(length), '\0');
        uint32_t got = 0;
        while (got < length) {
            unsigned n = file.Read(&(*bytes)[got], static_cast<unsigned>(length - got));
            if (n == 0)
                break;
            got += n;
        }
        bytes->resize(got);
    } catch (const CFileException& e) {
        return SystemFailure(static_cast<uint32_t>(e.m_lOsError), path);
    }
    return Status::Ok();
}

Status ReadStampedPackage(const std::string& path, bool* stamped, std::vector<uint8_t>* bytes)
{
    *stamped = false;
    // Only a file that starts like a program is loaded as one.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Status::Ok();
    char magic[2] = {};
    DWORD got = 0;
    bool program = ReadFile(file, magic, sizeof magic, &got, nullptr) && got == 2 && magic[0] == 'M' &&
                   magic[1] == 'Z';
    CloseHandle(file);
    if (!program)
        return Status::Ok();
    // A full path: LoadLibraryExA looks for a bare name in this program's own
    // folder first, where the unstamped launcher lives.
    char full[MAX_PATH] = {};
    DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return Status::Error(ERROR_FILENAME_EXCED_RANGE, path + ": path too long");
    HMODULE module = LoadLibraryExA(full, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return SystemFailure(GetLastError(), path + ": cannot read it as a program");
    Status status = Status::Ok();
    HRSRC resource = FindResourceA(module, kPackageResourceName, kOemResourceType);
    DWORD size = resource ? SizeofResource(module, resource) : 0;
    const void* data = size ? LockResource(LoadResource(module, resource)) : nullptr;
    if (data != nullptr) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        bytes->assign(p, p + size);
        *stamped = true;
    } else {
        status = Status::Error(ERROR_RESOURCE_DATA_NOT_FOUND,
                               path + ": a program without a package (no OEMDATA/DEFAULT resource)");
    }
    FreeLibrary(module);
    return status;
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
