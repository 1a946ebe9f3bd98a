// Version resource reader on the Win32 version API.
#include <windows.h>

#include "FileVersionInfo.h"
#include "SystemLibrary.h"

namespace {

// The version API, from the system folder's version.dll (not a known DLL, so
// not imported). Without the library or one of its functions every call fails
// as the missing call would, with the loader's error as the last error.
struct VersionApi {
    VersionApi()
    {
        const DWORD callersError = GetLastError();
        getSize = library.Function<decltype(&GetFileVersionInfoSizeA)>("GetFileVersionInfoSizeA");
        getInfo = getSize ? library.Function<decltype(&GetFileVersionInfoA)>("GetFileVersionInfoA") : nullptr;
        queryValue = getInfo ? library.Function<decltype(&VerQueryValueA)>("VerQueryValueA") : nullptr;
        if (!queryValue)
            loadError = GetLastError();
        SetLastError(callersError);
    }

    SystemLibrary library{"version.dll"};
    decltype(&GetFileVersionInfoSizeA) getSize = nullptr;
    decltype(&GetFileVersionInfoA) getInfo = nullptr;
    decltype(&VerQueryValueA) queryValue = nullptr;
    DWORD loadError = ERROR_SUCCESS;
};

const VersionApi& Api()
{
    static const VersionApi api;
    return api;
}

}  // namespace

int FileVersionInfo::Load(const char* path)
{
    Release();
    const VersionApi& api = Api();
    if (api.loadError != ERROR_SUCCESS) {
        SetLastError(api.loadError);
        return 0;
    }
    DWORD handle = 0;
    DWORD size = api.getSize(path, &handle);
    if (size == 0)
        return 0;
    versionData.reset(new uint8_t[size]());
    const void* table = nullptr;
    uint32_t length = 0;
    if (!api.getInfo(path, 0, size, versionData.get()) ||
        !QueryValue("\\VarFileInfo\\Translation", &table, &length) || !table || length < 4) {
        Release();
        return 0;
    }
    const uint8_t* entry = static_cast<const uint8_t*>(table);
    // Stored as language then code page, 16 bits each; the string-table path
    // wants the language in the high half.
    uint32_t language = static_cast<uint32_t>(entry[0]) | (static_cast<uint32_t>(entry[1]) << 8);
    uint32_t codePage = static_cast<uint32_t>(entry[2]) | (static_cast<uint32_t>(entry[3]) << 8);
    translation = (language << 16) | codePage;
    return 1;
}

bool FileVersionInfo::QueryValue(const char* subBlock, const void** value, uint32_t* length) const
{
    // A block is loaded only once Load has found the whole API.
    if (!versionData)
        return false;
    LPVOID found = nullptr;
    UINT size = 0;
    if (!Api().queryValue(versionData.get(), subBlock, &found, &size))
        return false;
    *value = found;
    *length = size;
    return true;
}
