// The package's own configuration: [ResourceReplace] names and [Commonfiles] lines.
#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "ErrorLog.h"
#include "PackageResources.h"
#include "PackageUnpacker.h"

namespace {

constexpr DWORD kReplaceSectionSize = 4096;
constexpr DWORD kCommonSectionSize = 16384;

// Calls visit for every NUL-terminated line of a profile section, up to the
// first empty line, never looking past size bytes.
template <typename Visit>
void ForEachLine(const char* buffer, size_t size, Visit visit)
{
    size_t at = 0;
    while (at < size && buffer[at] != '\0') {
        const void* end = std::memchr(buffer + at, '\0', size - at);
        size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - (buffer + at)) : size - at;
        visit(CString(buffer + at, static_cast<int>(length)));
        at += length + 1;
    }
}

bool ContainsNoCase(const CStringArray& list, const CString& text)
{
    for (int i = 0; i < list.GetSize(); ++i) {
        if (CompareMbsNoCase(text, list[i]) == 0)
            return true;
    }
    return false;
}

}  // namespace

void PackageUnpacker::LoadReplaceNames()
{
    replaceNames.RemoveAll();
    char buffer[kReplaceSectionSize] = {};
    if (!configPath.IsEmpty())
        GetPrivateProfileSectionA("ResourceReplace", buffer, kReplaceSectionSize, configPath);
    ForEachLine(buffer, sizeof(buffer), [this](const CString& line) {
        // "<name>.<setting>=<value>": the name is what stands before the last
        // '.' of the text before the last '='.
        int equals = line.ReverseFind('=');
        CString key = equals < 0 ? CString() : line.Left(equals);
        int dot = key.ReverseFind('.');
        CString name = dot < 0 ? CString() : key.Left(dot);
        OutputDebugStringA("55555");
        OutputDebugStringA(name);
        bool known = false;
        for (int i = 0; i < replaceNames.GetSize() && !known; ++i) {
            OutputDebugStringA("66666");
            OutputDebugStringA(replaceNames[i]);
            known = CompareMbsNoCase(name, replaceNames[i]) == 0;
        }
        if (!known) {
            replaceNames.Add(name);
            OutputDebugStringA("98765");
            OutputDebugStringA(name);
        }
    });
}

void PackageUnpacker::LoadCommonFiles()
{
    commonFileLines.RemoveAll();
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCommonSectionSize]);
    if (!buffer) {
        LogError("Insufficent memory for InitCommonFiles");
        return;
    }
    std::memset(buffer.get(), 0, kCommonSectionSize);
    if (!configPath.IsEmpty())
        GetPrivateProfileSectionA(kCommonFilesGroup, buffer.get(), kCommonSectionSize, configPath);
    ForEachLine(buffer.get(), kCommonSectionSize, [this](const CString& line) {
        if (!ContainsNoCase(commonFileLines, line))
            commonFileLines.Add(line);
    });
}
