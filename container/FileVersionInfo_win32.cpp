// Version resource reader on the Win32 version API.
#include <windows.h>

#include "FileVersionInfo.h"

int FileVersionInfo::Load(const char* path)
{
    Release();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return 0;
    versionData.reset(new uint8_t[size]());
    const void* table = nullptr;
    uint32_t length = 0;
    if (!GetFileVersionInfoA(path, 0, size, versionData.get()) ||
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
    if (!versionData)
        return false;
    LPVOID found = nullptr;
    UINT size = 0;
    if (!VerQueryValueA(versionData.get(), subBlock, &found, &size))
        return false;
    *value = found;
    *length = size;
    return true;
}
