// Reader of a file's version resource: fixed information, version texts and string items.
#pragma once

#include <cstdint>
#include <memory>

#include "CString.h"

// VS_FIXEDFILEINFO, as the version block holds it.
struct FixedFileInfo {
    uint32_t signature;
    uint32_t structVersion;
    uint32_t fileVersionMS;
    uint32_t fileVersionLS;
    uint32_t productVersionMS;
    uint32_t productVersionLS;
    uint32_t fileFlagsMask;
    uint32_t fileFlags;
    uint32_t fileOS;
    uint32_t fileType;
    uint32_t fileSubtype;
    uint32_t fileDateMS;
    uint32_t fileDateLS;
};
static_assert(sizeof(FixedFileInfo) == 52, "VS_FIXEDFILEINFO is 52 bytes");

class FileVersionInfo {
public:
    FileVersionInfo() = default;
    virtual ~FileVersionInfo();
    FileVersionInfo(const FileVersionInfo&) = delete;
    FileVersionInfo& operator=(const FileVersionInfo&) = delete;

    // Frees the loaded block; translation becomes 0.
    void Release();
    // 1 when the file has a version block with a translation table; otherwise
    // 0 and nothing is loaded (an earlier block is released either way). On
    // POSIX there is no version resource: always 0.
    int Load(const char* path);
    // Copies the block's fixed information; 0 when nothing is loaded or the
    // block has none.
    int FixedInfo(FixedFileInfo* out) const;
    // "%u,%u,%u,%u" of the file / product version words; "" without fixed info.
    CString FileVersionText() const;
    CString ProductVersionText() const;
    // The string-table item name under translation (0: the loaded one), from
    // "\\StringFileInfo\\%08lx\\%s"; "" when nothing is loaded or no such item.
    CString StringValue(const char* name, uint32_t translation = 0) const;
    // The first translation, language in the high half, code page in the low.
    uint32_t GetTranslation() const { return translation; }
    int IsLoaded() const { return versionData != nullptr; }

private:
    // VerQueryValueA on the loaded block: a pointer into it and its length.
    bool QueryValue(const char* subBlock, const void** value, uint32_t* length) const;

    std::unique_ptr<uint8_t[]> versionData;
    uint32_t translation = 0;
};

// The four 16-bit parts of a file version as text, "1,2,3,4".
CString VersionText(uint32_t mostSignificant, uint32_t leastSignificant);
