// Stamps the package resources into a copy of the launcher with the resource update API.
#include "LauncherStamp.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "Status.h"

const char kDefaultLanguageIni[] = "[LANGUAGE]\r\nUseDefault =1\r\nSelectLanguage = 0x0404\r\n";
static_assert(sizeof(kDefaultLanguageIni) - 1 == kDefaultLanguageIniSize,
              "the shipped LANGUAGE_INI is 52 bytes");

namespace {

const WORD kNeutralLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

// Closes a Win32 file handle.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle()
    {
        if (h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

// Deletes the temporary copy unless it has been moved into place.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile()
    {
        if (!path_.empty()) {
            SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    void Set(const std::string& path) { path_ = path; }
    const std::string& Path() const { return path_; }
    void Release() { path_.clear(); }

private:
    std::string path_;
};

// A module loaded as plain data, to list the launcher's existing resources.
class DataModule {
public:
    explicit DataModule(HMODULE m) : m_(m) {}
    ~DataModule()
    {
        if (m_ != nullptr)
            FreeLibrary(m_);
    }
    DataModule(const DataModule&) = delete;
    DataModule& operator=(const DataModule&) = delete;
    HMODULE get() const { return m_; }

private:
    HMODULE m_;
};

// Discards a pending resource update unless it was committed.
class ResourceUpdate {
public:
    explicit ResourceUpdate(HANDLE h) : h_(h) {}
    ~ResourceUpdate()
    {
        if (h_ != nullptr)
            EndUpdateResourceA(h_, TRUE);
    }
    ResourceUpdate(const ResourceUpdate&) = delete;
    ResourceUpdate& operator=(const ResourceUpdate&) = delete;
    HANDLE get() const { return h_; }
    BOOL Commit()
    {
        HANDLE h = h_;
        h_ = nullptr;
        return EndUpdateResourceA(h, FALSE);
    }

private:
    HANDLE h_;
};

uint32_t ReadU32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Ok when the file starts with an MZ header whose e_lfanew points at "PE\0\0"
// inside the file; ERROR_BAD_EXE_FORMAT for anything else, or the error of a
// failed open or read.
Status CheckPortableExecutable(const char* path)
{
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return Status::LastError();
    DWORD sizeHigh = 0;
    DWORD sizeLow = GetFileSize(file.get(), &sizeHigh);
    if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return Status::LastError();
    unsigned char dos[64];
    DWORD got = 0;
    if (!ReadFile(file.get(), dos, sizeof dos, &got, nullptr))
        return Status::LastError();
    if (got != sizeof dos || dos[0] != 'M' || dos[1] != 'Z')
        return Status::Error(ERROR_BAD_EXE_FORMAT);
    uint32_t peOffset = ReadU32(dos + 0x3C);
    if (sizeHigh == 0 && (sizeLow < 4 || peOffset > sizeLow - 4))
        return Status::Error(ERROR_BAD_EXE_FORMAT);
    if (SetFilePointer(file.get(), LONG(peOffset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        return Status::LastError();
    unsigned char signature[4];
    if (!ReadFile(file.get(), signature, sizeof signature, &got, nullptr))
        return Status::LastError();
    if (got != sizeof signature || std::memcmp(signature, "PE\0\0", 4) != 0)
        return Status::Error(ERROR_BAD_EXE_FORMAT);
    return Status::Ok();
}

// A resource type or name: a 16-bit id or a string, copied out of the enumeration.
struct ResourceId {
    bool isId = false;
    WORD id = 0;
    std::string text;

    explicit ResourceId(LPCSTR value)
    {
        if (IS_INTRESOURCE(value)) {
            isId = true;
            id = LOWORD(reinterpret_cast<ULONG_PTR>(value));
        } else {
            text = value;
        }
    }
    LPCSTR Get() const { return isId ? MAKEINTRESOURCEA(id) : text.c_str(); }
    bool Is(const char* name) const { return !isId && lstrcmpiA(text.c_str(), name) == 0; }
};

struct ResourceKey {
    ResourceId type;
    ResourceId name;
    WORD language;
};

struct Enumeration {
    HMODULE module;
    std::vector<ResourceKey>* keys;
    LPCSTR type;
    LPCSTR name;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param)
{
    auto* e = reinterpret_cast<Enumeration*>(param);
    e->keys->push_back(ResourceKey{ResourceId(e->type), ResourceId(e->name), language});
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param)
{
    auto* e = reinterpret_cast<Enumeration*>(param);
    Enumeration inner{module, e->keys, type, name};
    EnumResourceLanguagesA(module, type, name, CollectLanguage, reinterpret_cast<LONG_PTR>(&inner));
    return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPSTR type, LONG_PTR param)
{
    auto* e = reinterpret_cast<Enumeration*>(param);
    Enumeration inner{module, e->keys, type, nullptr};
    EnumResourceNamesA(module, type, CollectName, reinterpret_cast<LONG_PTR>(&inner));
    return TRUE;
}

// Every resource of the module except the two the stamp writes.
std::vector<ResourceKey> ResourcesToKeep(HMODULE module)
{
    std::vector<ResourceKey> all;
    Enumeration e{module, &all, nullptr, nullptr};
    EnumResourceTypesA(module, CollectType, reinterpret_cast<LONG_PTR>(&e));
    std::vector<ResourceKey> keep;
    for (ResourceKey& key : all) {
        if (key.type.Is(kOemResourceType) &&
            (key.name.Is(kPackageResourceName) || key.name.Is(kLanguageResourceName)))
            continue;
        keep.push_back(std::move(key));
    }
    return keep;
}

// The folder part of path including its trailing separator, or "." when it has none.
std::string FolderOf(const std::string& path)
{
    std::string::size_type cut = path.find_last_of("\\/:");
    if (cut == std::string::npos)
        return ".";
    if (path[cut] == ':')
        return path.substr(0, cut + 1) + ".";
    return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

// The bytes the stamp writes: the package and, unless null, the language settings.
struct StampedBytes {
    const void* package;
    uint32_t packageSize;
    const void* languageIni;
    uint32_t languageSize;
};

Status CheckArguments(const char* launcherPath, const char* outputPath, const StampedBytes& bytes)
{
    if (launcherPath == nullptr || outputPath == nullptr || *launcherPath == '\0' || *outputPath == '\0' ||
        bytes.package == nullptr || bytes.packageSize == 0 ||
        (bytes.languageIni == nullptr && bytes.languageSize != 0))
        return Status::Error(ERROR_INVALID_PARAMETER);
    if (std::strlen(outputPath) >= MAX_PATH)
        return Status::Error(ERROR_FILENAME_EXCED_RANGE);
    return Status::Ok();
}

// Loads the launcher as plain data, by its full path: LoadLibraryExA looks for
// a bare name in the program's own folder first, which may hold another launcher.
Status LoadAsData(const char* launcherPath, HMODULE* module)
{
    char fullLauncher[MAX_PATH] = {};
    DWORD fullLength = GetFullPathNameA(launcherPath, MAX_PATH, fullLauncher, nullptr);
    if (fullLength == 0)
        return Status::LastError();
    if (fullLength >= MAX_PATH)
        return Status::Error(ERROR_FILENAME_EXCED_RANGE);
    *module = LoadLibraryExA(fullLauncher, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (*module == nullptr)
        return GetLastError() == NO_ERROR ? Status::Error(ERROR_BAD_EXE_FORMAT) : Status::LastError();
    return Status::Ok();
}

// Copies the launcher to a new temporary file beside outputPath, writable
// whatever the launcher's own attributes.
Status CopyBesideOutput(const char* launcherPath, const char* outputPath, TemporaryFile& temporary)
{
    // GetTempFileNameA wants room for "\XXXXXXXX.tmp" after the folder.
    std::string folder = FolderOf(outputPath);
    if (folder.size() > MAX_PATH - 14)
        return Status::Error(ERROR_FILENAME_EXCED_RANGE);
    DWORD folderAttributes = GetFileAttributesA(folder.c_str());
    if (folderAttributes == INVALID_FILE_ATTRIBUTES || (folderAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return Status::Error(ERROR_PATH_NOT_FOUND);
    char temporaryPath[MAX_PATH] = {};
    if (GetTempFileNameA(folder.c_str(), "oem", 0, temporaryPath) == 0)
        return Status::LastError();
    temporary.Set(temporaryPath);

    if (!CopyFileA(launcherPath, temporaryPath, FALSE))
        return Status::LastError();
    // The copy inherits a read-only launcher's attribute; the update must write it.
    DWORD attributes = GetFileAttributesA(temporaryPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesA(temporaryPath, attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    return Status::Ok();
}

// Empties the copy's resources and writes back the launcher's kept ones and
// the stamped ones, all in one update.
Status RewriteResources(const std::string& copyPath, HMODULE launcher, const std::vector<ResourceKey>& kept,
                        const StampedBytes& bytes)
{
    ResourceUpdate update(BeginUpdateResourceA(copyPath.c_str(), TRUE));
    if (update.get() == nullptr)
        return Status::LastError();
    for (const ResourceKey& key : kept) {
        HRSRC found = FindResourceExA(launcher, key.type.Get(), key.name.Get(), key.language);
        if (found == nullptr)
            return Status::LastError();
        DWORD size = SizeofResource(launcher, found);
        void* data = LockResource(LoadResource(launcher, found));
        if (data == nullptr && size != 0)
            return Status::LastError();
        if (!UpdateResourceA(update.get(), key.type.Get(), key.name.Get(), key.language, data, size))
            return Status::LastError();
    }
    if (!UpdateResourceA(update.get(), kOemResourceType, kPackageResourceName, kNeutralLanguage,
                         const_cast<void*>(bytes.package), bytes.packageSize))
        return Status::LastError();
    if (bytes.languageIni != nullptr && bytes.languageSize != 0 &&
        !UpdateResourceA(update.get(), kOemResourceType, kLanguageResourceName, kNeutralLanguage,
                         const_cast<void*>(bytes.languageIni), bytes.languageSize))
        return Status::LastError();
    if (!update.Commit())
        return Status::LastError();
    return Status::Ok();
}

Status MoveIntoPlace(TemporaryFile& temporary, const char* outputPath)
{
    if (!MoveFileExA(temporary.Path().c_str(), outputPath,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
        return Status::LastError();
    temporary.Release();
    return Status::Ok();
}

Status Stamp(const char* launcherPath, const char* outputPath, const StampedBytes& bytes)
{
    Status status = CheckArguments(launcherPath, outputPath, bytes);
    if (status)
        status = CheckPortableExecutable(launcherPath);
    if (!status)
        return status;
    // The launcher's own resources are written back into an emptied copy, so that
    // no older version of the stamped resources survives under any language.
    HMODULE module = nullptr;
    status = LoadAsData(launcherPath, &module);
    if (!status)
        return status;
    DataModule launcher(module);
    const std::vector<ResourceKey> kept = ResourcesToKeep(launcher.get());

    TemporaryFile temporary;
    status = CopyBesideOutput(launcherPath, outputPath, temporary);
    if (status)
        status = RewriteResources(temporary.Path(), launcher.get(), kept, bytes);
    if (status)
        status = MoveIntoPlace(temporary, outputPath);
    return status;
}

}  // namespace

int StampLauncher(const char* launcherPath, const char* outputPath, const void* package,
                  uint32_t packageSize, const void* languageIni, uint32_t languageSize)
{
    const Status stamped = Stamp(launcherPath, outputPath, {package, packageSize, languageIni, languageSize});
    // Set here, after every clean-up: NO_ERROR on success, else the failure's code.
    SetLastError(stamped.Code());
    return stamped ? 1 : 0;
}
