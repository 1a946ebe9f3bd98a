// Version resource reader: the parts common to every platform.
#include "FileVersionInfo.h"

#include <cstring>

FileVersionInfo::~FileVersionInfo() { Release(); }

void FileVersionInfo::Release()
{
    versionData.reset();
    translation = 0;
}

int FileVersionInfo::FixedInfo(FixedFileInfo* out) const
{
    const void* value = nullptr;
    uint32_t length = 0;
    if (!versionData || !QueryValue("\\", &value, &length) || !value || length < sizeof(FixedFileInfo))
        return 0;
    if (out)
        std::memcpy(out, value, sizeof(FixedFileInfo));
    return 1;
}

CString VersionText(uint32_t mostSignificant, uint32_t leastSignificant)
{
    CString text;
    text.Format("%u,%u,%u,%u", mostSignificant >> 16, mostSignificant & 0xFFFFu, leastSignificant >> 16,
                leastSignificant & 0xFFFFu);
    return text;
}

CString FileVersionInfo::FileVersionText() const
{
    FixedFileInfo fixed;
    if (!FixedInfo(&fixed))
        return CString();
    return VersionText(fixed.fileVersionMS, fixed.fileVersionLS);
}

CString FileVersionInfo::ProductVersionText() const
{
    FixedFileInfo fixed;
    if (!FixedInfo(&fixed))
        return CString();
    return VersionText(fixed.productVersionMS, fixed.productVersionLS);
}

CString FileVersionInfo::StringValue(const char* name, uint32_t wanted) const
{
    if (!versionData || !name)
        return CString();
    CString query;
    query.Format("\\StringFileInfo\\%08lx\\%s", static_cast<unsigned long>(wanted ? wanted : translation), name);
    const void* value = nullptr;
    uint32_t length = 0;
    if (!QueryValue(query, &value, &length) || !value || length == 0)
        return CString();
    // The length counts characters, the terminating zero included; never read
    // past it even if the block lacks the zero.
    const char* text = static_cast<const char*>(value);
    size_t size = 0;
    while (size < length && text[size] != '\0')
        ++size;
    return CString(text, static_cast<int>(size));
}
