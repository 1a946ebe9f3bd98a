// Setup.cfg staging: the named support files follow the launcher into the work folder.
#include "SetupCfgStaging.h"

#include <windows.h>

#include <mbstring.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "FolderUtilities.h"

namespace {

constexpr int kSectionBufferSize = 8192;
constexpr size_t kPathBufferSize = MAX_PATH;

const char* const kStagedSections[] = {
    "Startup", "ADDREG",   "ADDREG32",   "ADDREG64", "HELP",         "COPYTO",
    "COPYTO32", "COPYTO64", "INSTALLEXE", "RECOPYTO", "SupportFiles",
};

bool Fits(const CString& path) { return static_cast<size_t>(path.GetLength()) < kPathBufferSize; }

// A key naming an object or a parameter rather than a file.
bool IsSkippedKey(CString key)
{
    key.MakeUpper();
    return key.Find(".OBJ", 1) >= 0 || key.Find(".PARAM", 1) >= 0;
}

// Each separator-delimited name of path, walked by character so that a trail
// byte 0x5C of a double-byte character never splits a name. Both "\" and "/"
// separate, as they do for the file system.
std::vector<CString> PathNames(const CString& path)
{
    std::vector<CString> names;
    const unsigned char* text = reinterpret_cast<const unsigned char*>(path.GetString());
    const unsigned char* start = text;
    for (const unsigned char* p = text;; p = _mbsinc(p)) {
        if (*p == '\0' || *p == '\\' || *p == '/') {
            names.emplace_back(reinterpret_cast<const char*>(start), static_cast<int>(p - start));
            if (*p == '\0')
                break;
            start = p + 1;
        }
    }
    return names;
}

// A name the file system reads as the parent folder: "..", and also ".. ",
// "..." and the like, since trailing dots and blanks are dropped from names.
bool IsParentName(const CString& name)
{
    int dots = 0;
    for (int i = 0; i < name.GetLength(); ++i) {
        char c = name[i];
        if (c == '.')
            ++dots;
        else if (c != ' ')
            return false;
    }
    return dots >= 2;
}

bool ReachesOutside(const CString& value)
{
    for (const CString& name : PathNames(value))
        if (IsParentName(name))
            return true;
    return false;
}

// Drive and folder of the running executable, ending in "\"; "" when its path
// cannot be read whole.
CString ExecutableFolder()
{
    char modulePath[kPathBufferSize] = {};
    DWORD length = GetModuleFileNameA(nullptr, modulePath, sizeof(modulePath));
    if (length == 0 || length >= sizeof(modulePath))
        return CString();
    // Parts are never longer than the whole, which _MAX_DIR does not cover for
    // a network path.
    char drive[kPathBufferSize] = {};
    char folder[kPathBufferSize] = {};
    _splitpath(modulePath, drive, folder, nullptr, nullptr);
    return CString(drive) + folder;
}

// Copies one value's file; the value is already known to be relative and safe.
void StageValue(const CString& value, const CString& sourceFolder, const CString& workFolder)
{
    CString source = sourceFolder + value;
    // Split at the last "\" by character: the folder part and the file name.
    const unsigned char* text = reinterpret_cast<const unsigned char*>(value.GetString());
    const unsigned char* lastSeparator = _mbsrchr(text, '\\');
    CString folderPart;
    CString fileName = value;
    if (lastSeparator) {
        int cut = static_cast<int>(lastSeparator - text);
        folderPart = value.Left(cut);
        fileName = value.Mid(cut + 1);
    }

    std::vector<CString> folders;
    CString destination = workFolder;
    std::vector<unsigned char> names(folderPart.GetString(), folderPart.GetString() + folderPart.GetLength() + 1);
    for (unsigned char* name = _mbstok(names.data(), reinterpret_cast<const unsigned char*>("\\")); name;
         name = _mbstok(nullptr, reinterpret_cast<const unsigned char*>("\\"))) {
        destination += "\\";
        destination += reinterpret_cast<const char*>(name);
        folders.push_back(destination);
    }
    destination += "\\";
    destination += fileName;
    // Every folder made on the way is a prefix of the destination.
    if (!Fits(source) || !Fits(destination))
        return;
    for (const CString& folder : folders)
        CreateFolderTree(folder);
    CopyFileA(source, destination, FALSE);
}

}  // namespace

void StageSection(const char* section, const CString& cfgPath, const CString&, const CString& workFolder)
{
    std::vector<char> buffer(kSectionBufferSize, '\0');
    DWORD read = GetPrivateProfileSectionA(section, buffer.data(), kSectionBufferSize, cfgPath);
    if (read == 0)
        return;
    CString sourceFolder = ExecutableFolder();
    if (sourceFolder.IsEmpty())
        return;

    // Lines are zero-terminated and the list ends with an empty one; a line
    // running into the end of the buffer ends the list as well.
    const char* end = buffer.data() + kSectionBufferSize;
    for (const char* line = buffer.data(); line < end && *line != '\0';) {
        size_t length = strnlen(line, static_cast<size_t>(end - line));
        if (line + length == end)
            break;
        CString text(line, static_cast<int>(length));
        line += length + 1;

        CString key;
        CString value = text;
        int equals = text.Find('=');
        if (equals >= 0) {
            key = text.Left(equals);
            value = text.Mid(equals + 1);
        }
        if (IsSkippedKey(key))
            continue;
        value.Trim(" ;");
        if (value.IsEmpty())
            continue;
        if (value.GetLength() >= 2 && value[1] == ':')
            continue;
        if (value.GetLength() >= 2 && value[0] == '\\' && value[1] == '\\')
            continue;
        if (ReachesOutside(value))
            continue;
        StageValue(value, sourceFolder, workFolder);
    }
}

void StageSupportFiles(const CString& cfgPath, const CString& workFolder, const CString& launcherFolder)
{
    for (const char* section : kStagedSections)
        StageSection(section, cfgPath, launcherFolder, workFolder);
    CString copy = workFolder + "\\" + kSetupCfgName;
    if (Fits(copy))
        CopyFileA(cfgPath, copy, FALSE);
}
