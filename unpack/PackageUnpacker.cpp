// The package unpacker: opens a package, unpacks its configuration, extracts by configuration key.
#include "PackageUnpacker.h"

#include <windows.h>

#include <cstring>

#include "FolderUtilities.h"
#include "PackageResources.h"

namespace {

// Index of the last '\\' in text, walking whole characters so that a trail
// byte with that value is never taken for one; -1 when there is none.
int LastBackslash(const char* text)
{
    int found = -1;
    for (const char* p = text; *p; p = CharNextA(p)) {
        if (*p == '\\')
            found = static_cast<int>(p - text);
    }
    return found;
}

}  // namespace

PackageUnpacker::PackageUnpacker() = default;

PackageUnpacker::PackageUnpacker(GuidCreator create) : guidCreator(create) {}

PackageUnpacker::~PackageUnpacker() { Close(1); }

int PackageUnpacker::Open(const char* path, int mode)
{
    if (mode < 1 || mode > 4)
        return 0;
    // A second Open must not leave the first unpack folder behind.
    if (!unpackFolder.IsEmpty())
        Close(1);
    if (!package.Open(path, mode - 1, nullptr, nullptr, 0))
        return 0;

    char tempPath[MAX_PATH] = {};
    GetTempFolder(tempPath);
    if (tempPath[0] == '\0') {
        // Without a temporary path the folder would land in the current folder.
        LastErrorGuard keep;
        package.Close();
        return 0;
    }
    // The rules exist before the folder does: it never has others.
    const Status rules = folderRules.BuildForThisProcess();
    if (!rules) {
        package.Close();
        SetLastError(rules.Code());
        return 0;
    }
    // The temporary path may be missing; the folder itself must be new, or
    // whoever made it could change CONFIG.INI under us.
    CreateFolderTree(tempPath);
    CString tried;
    const Status created =
        folder.CreateFresh(tempPath, folderRules.Attributes(), kWorkFolderAttempts, guidCreator, &tried);
    if (!created) {
        package.Close();
        SetLastError(created.Code());
        return 0;
    }
    unpackFolder = folder.Path();
    configPath.Format("%s\\%s", static_cast<const char*>(unpackFolder), kConfigEntry);

    if (!package.GetEntryInfo(kConfigEntry, kConfigGroup, nullptr, nullptr))
        return 1;
    package.ExtractEntry(kConfigEntry, kConfigGroup, unpackFolder, nullptr, kOverwriteAlways);
    // A CONFIG.INI that could not be unpacked reads as empty, as before.
    {
        LastErrorGuard keep;
        (void)heldConfig.Hold(configPath);
    }
    LoadReplaceNames();
    LoadCommonFiles();
    return 1;
}

int PackageUnpacker::ExtractCommonFile(const char* key, const char* destinationPath)
{
    // One byte beyond the 260-byte value buffer tells a value that would not
    // have fitted from one that fills it exactly.
    char value[MAX_PATH + 1] = {};
    DWORD length = 0;
    if (key && !configPath.IsEmpty())
        length = GetPrivateProfileStringA(kCommonFilesGroup, key, "", value, sizeof(value), configPath);
    OutputDebugStringA("345634");
    OutputDebugStringA(value);
    OutputDebugStringA(key ? key : "");
    OutputDebugStringA(configPath);
    if (value[0] == '\0' || length >= MAX_PATH)
        return 0;

    if (!destinationPath || std::strlen(destinationPath) >= MAX_PATH)
        return 0;
    char destination[MAX_PATH] = {};
    std::strcpy(destination, destinationPath);
    OutputDebugStringA(destination);
    int split = LastBackslash(destination);
    if (split < 0)
        return 0;
    // The folder keeps its '\\': "C:\\setup.exe" must not become the
    // drive-relative "C:setup.exe".
    char folder[MAX_PATH] = {};
    std::memcpy(folder, destination, static_cast<size_t>(split) + 1);
    const char* fileName = destination + split + 1;
    OutputDebugStringA(fileName);
    return package.ExtractEntry(value, kCommonFilesGroup, folder, fileName, kOverwriteAlways);
}

void PackageUnpacker::Close(int removeFiles)
{
    package.Close();
    if (!removeFiles)
        return;
    heldConfig.Release();
    if (!configPath.IsEmpty())
        DeleteFileA(configPath);
    folder.Remove();
    configPath.Empty();
    unpackFolder.Empty();
    replaceNames.RemoveAll();
    commonFileLines.RemoveAll();
}
