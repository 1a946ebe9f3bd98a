// Version resource reader on POSIX, where files carry no version resource.
#include "FileVersionInfo.h"

#include "SystemApi.h"

int FileVersionInfo::Load(const char*)
{
    Release();
    return 0;
}

bool FileVersionInfo::QueryValue(const char*, const void**, uint32_t*) const { return false; }
