// Writing one decoded package entry to disk.
#include "EntryExtraction.h"

#include <cstring>

#include "CFile.h"
#include "FileComparison.h"

namespace {

// The last character of text when it is a single-byte one, else 0.
char LastSingleByteChar(const char* text)
{
    char last = 0;
    for (const char* p = text; *p; ++p) {
        if (IsLeadByte(static_cast<uint8_t>(*p)) && p[1] != '\0') {
            ++p;
            last = 0;
        } else {
            last = *p;
        }
    }
    return last;
}

// Whether an existing file stays, by the overwrite rule.
bool KeepExisting(const char* path, const char* destinationFolder, const uint8_t* data, uint32_t size,
                  const EntryInfo& info, int overwriteMode)
{
    switch (overwriteMode) {
    case kOverwriteIfNewerTime:
        return CompareTimes(path, info.creationTime, info.lastWriteTime, 1) >= 0;
    case kOverwriteIfNewerVersion:
        return CompareVersion(path, data, size, destinationFolder) >= 0;
    case kOverwriteIfNewerVersionThenTime: {
        int version = CompareVersion(path, data, size, destinationFolder);
        if (version != 0)
            return version > 0;
        return CompareTimes(path, info.creationTime, info.lastWriteTime, 1) >= 0;
    }
    default:
        return false;
    }
}

}  // namespace

int IsWindowsDeviceName(const char* name)
{
    if (!name)
        return 0;
    // Windows drops trailing blanks and dots from a name, then takes everything
    // before the first dot, less trailing blanks, as the device: "con .txt.. "
    // opens CON as surely as "CON" does.
    size_t length = std::strlen(name);
    while (length > 0 && (name[length - 1] == ' ' || name[length - 1] == '.'))
        --length;
    size_t base = 0;
    while (base < length && name[base] != '.')
        ++base;
    while (base > 0 && name[base - 1] == ' ')
        --base;
    if (base != 3 && base != 4)
        return 0;
    char word[4];
    for (size_t i = 0; i < 3; ++i) {
        char c = name[i];
        word[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    word[3] = '\0';
    if (base == 3)
        return std::strcmp(word, "CON") == 0 || std::strcmp(word, "PRN") == 0 || std::strcmp(word, "AUX") == 0 ||
               std::strcmp(word, "NUL") == 0;
    return name[3] >= '1' && name[3] <= '9' && (std::strcmp(word, "COM") == 0 || std::strcmp(word, "LPT") == 0);
}

int IsBareFileName(const char* name)
{
    if (!name || name[0] == '\0')
        return 0;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return 0;
    if (IsWindowsDeviceName(name))
        return 0;
    // Character by character: a trail byte of a two-byte character may have
    // the value of '\\' without being one.
    for (const char* p = name; *p; ++p) {
        if (IsLeadByte(static_cast<uint8_t>(*p)) && p[1] != '\0') {
            ++p;
            continue;
        }
        if (*p == '\\' || *p == '/' || *p == ':')
            return 0;
    }
    return 1;
}

int BuildDestinationPath(const char* folder, const char* fileName, char* path)
{
    if (!folder)
        folder = "";
    if (!fileName)
        fileName = "";
    size_t folderLength = std::strlen(folder);
    size_t nameLength = std::strlen(fileName);
    char last = LastSingleByteChar(folder);
    bool separator = last != kPathSeparator && last != '\\' && last != ':';
    size_t total = folderLength + (separator ? 1 : 0);
    // total + nameLength + 1 <= kMaxPath, written so that nothing can overflow.
    if (total >= static_cast<size_t>(kMaxPath) || nameLength >= static_cast<size_t>(kMaxPath) - total) {
        path[0] = '\0';
        SetLastErrorValue(kErrorFilenameExcedRange);
        return 0;
    }
    std::memcpy(path, folder, folderLength);
    if (separator)
        path[folderLength] = kPathSeparator;
    std::memcpy(path + total, fileName, nameLength);
    path[total + nameLength] = '\0';
    return 1;
}

int WriteEntryFile(const char* destinationFolder, const char* fileName, const uint8_t* data, uint32_t size,
                   const EntryInfo& info, int overwriteMode, ExtractFailureCallback callback, void* callbackData)
{
    if (!IsBareFileName(fileName)) {
        SetLastErrorValue(kErrorInvalidName);
        return 0;
    }
    char path[kMaxPath];
    if (!BuildDestinationPath(destinationFolder, fileName, path))
        return 0;

    if (PathExists(path) && KeepExisting(path, destinationFolder, data, size, info, overwriteMode))
        return 1;

    CFile file;
    if (file.Open(path, CFile::modeCreate | CFile::modeWrite)) {
        try {
            if (size)
                file.WriteHuge(data, size);
            SetHandleTimes(file.GetHandle(), &info.creationTime, &info.lastAccessTime, &info.lastWriteTime);
            file.Close();
        } catch (const CFileException& failure) {
            // A partly written file must not pass for the entry.
            file.Abort();
            DeletePath(path);
            SetLastErrorValue(static_cast<uint32_t>(failure.m_lOsError));
            return 0;
        }
        SetPathAttributes(path, info.attributes);
        return 1;
    }

    uint32_t error = GetLastErrorValue();
    int times = CompareTimes(path, info.creationTime, info.lastWriteTime, 0);
    int version = times == 0 ? CompareVersion(path, data, size, destinationFolder) : 0;
    if (times == 0 && version == 0)
        return 1;
    if (!callback) {
        SetLastErrorValue(error);
        return 0;
    }
    ExtractFailureInfo failure;
    failure.path = path;
    failure.error = error;
    failure.data = data;
    failure.size = size;
    failure.creationTime = info.creationTime;
    failure.lastAccessTime = info.lastAccessTime;
    failure.lastWriteTime = info.lastWriteTime;
    failure.attributes = info.attributes;
    int result = callback(&failure, callbackData);
    if (!result)
        SetLastErrorValue(error);
    return result;
}
