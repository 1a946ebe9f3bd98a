// Version and time comparisons between an existing file and a package entry.
#include "FileComparison.h"

#include <cstring>
#include <string>

#include "CFile.h"
#include "FileVersionInfo.h"

namespace {

int Clamp(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

// The version as one number whose order is that of its four 16-bit parts.
// Without fixed information: not present.
bool FileVersionNumber(const FileVersionInfo& info, uint64_t* number)
{
    FixedFileInfo fixed;
    if (!info.FixedInfo(&fixed))
        return false;
    *number = (static_cast<uint64_t>(fixed.fileVersionMS) << 32) | fixed.fileVersionLS;
    return true;
}

// "<folder>\Temp" with every doubled separator made single, so that a folder
// ending in a separator still names the Temp folder directly inside it. The
// leading pair of a network path ("\\server\share") stays.
std::string ScratchFolder(const char* destinationFolder)
{
    std::string raw(destinationFolder ? destinationFolder : "");
    raw += kPathSeparator;
    raw += "Temp";
    std::string folder;
    folder.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (IsLeadByte(static_cast<uint8_t>(raw[i])) && i + 1 < raw.size()) {
            folder += raw[i++];
        } else if (i > 0 && raw[i] == kPathSeparator && i + 1 < raw.size() && raw[i + 1] == kPathSeparator) {
            continue;
        }
        folder += raw[i];
    }
    return folder;
}

}  // namespace

int CompareFileTimes(const FileTime& a, const FileTime& b)
{
    uint64_t x = (static_cast<uint64_t>(a.highDateTime) << 32) | a.lowDateTime;
    uint64_t y = (static_cast<uint64_t>(b.highDateTime) << 32) | b.lowDateTime;
    return x < y ? -1 : x > y ? 1 : 0;
}

int CompareVersion(const char* destinationPath, const uint8_t* entryData, uint32_t entrySize,
                   const char* destinationFolder)
{
    FileVersionInfo destination;
    if (!destination.Load(destinationPath))
        return -2;

    std::string scratch = ScratchFolder(destinationFolder);
    CreateFolder(scratch.c_str());
    scratch += kPathSeparator;
    scratch += "tmpfile.dll";
    if (scratch.size() >= static_cast<size_t>(kMaxPath))
        return -2;
    DeletePath(scratch.c_str());

    {
        CFile file;
        if (!file.Open(scratch.c_str(), CFile::modeCreate | CFile::modeWrite))
            return -2;
        try {
            if (entrySize)
                file.WriteHuge(entryData, entrySize);
            file.Close();
        } catch (const CFileException&) {
            file.Abort();
            DeletePath(scratch.c_str());
            return -2;
        }
    }

    FileVersionInfo entry;
    if (!entry.Load(scratch.c_str()))
        return -2;

    uint64_t destinationVersion = 0, entryVersion = 0;
    bool destinationFixed = FileVersionNumber(destination, &destinationVersion);
    bool entryFixed = FileVersionNumber(entry, &entryVersion);
    int result;
    if (destinationFixed && entryFixed)
        result = destinationVersion < entryVersion ? -1 : destinationVersion > entryVersion ? 1 : 0;
    else
        result = Clamp(static_cast<int>(destinationFixed) - static_cast<int>(entryFixed));

    destination.Release();
    entry.Release();
    DeletePath(scratch.c_str());
    return result;
}

int CompareTimes(const char* destinationPath, const FileTime& creationTime, const FileTime& lastWriteTime,
                 int lastWriteOnly)
{
    CFile file;
    if (!file.Open(destinationPath, CFile::modeRead | CFile::shareDenyNone))
        return -2;
    FileTime creation, lastAccess, lastWrite;
    bool known = GetHandleTimes(file.GetHandle(), &creation, &lastAccess, &lastWrite);
    file.Abort();
    if (!known)
        return -2;
    if (!lastWriteOnly) {
        int result = CompareFileTimes(creation, creationTime);
        if (result != 0)
            return result;
    }
    return CompareFileTimes(lastWrite, lastWriteTime);
}
