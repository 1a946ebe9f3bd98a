// The launcher's one-object view of an installation package: open, unpack its configuration, extract by key.
//
// Open unpacks the package's CONFIG.INI (group "Config") into a fresh folder
// "<temp path>{GUID}" and loads its [ResourceReplace] names and [Commonfiles]
// lines; ExtractCommonFile writes the entry that [Commonfiles] names under a
// key; Close(1), and so the destructor, deletes everything that was unpacked.
#pragma once

#include "CString.h"
#include "CStringArray.h"
#include "PackageHandle.h"

class PackageUnpacker {
public:
    PackageUnpacker();
    virtual ~PackageUnpacker();
    PackageUnpacker(const PackageUnpacker&) = delete;
    PackageUnpacker& operator=(const PackageUnpacker&) = delete;

    // mode 1..4 opens the package as PackageHandle modes 0..3 (1 create new,
    // 2 create always, 3 open existing, 4 open always). 0 for any other mode
    // or when the package cannot be opened; nothing is created then. On success
    // the unpack folder exists; a package without Config\CONFIG.INI opens with
    // an empty configuration. 1 on success.
    int Open(const char* path, int mode);
    // Writes the entry of group "Commonfiles" that [Commonfiles] names under key
    // to destinationPath (a full path: folder, '\\', file name), always
    // overwriting. 0 when the key is absent or its value longer than 259 bytes,
    // when destinationPath has no '\\' or is longer than 259 bytes, or when the
    // extraction fails (the last-error value tells why, see PackageHandle).
    int ExtractCommonFile(const char* key, const char* destinationPath);
    // Closes the package; with removeFiles, also deletes CONFIG.INI and the
    // unpack folder with everything in it, and forgets paths and lists.
    void Close(int removeFiles);

    const CString& GetUnpackFolder() const { return unpackFolder; }
    const CString& GetConfigPath() const { return configPath; }
    // The distinct [ResourceReplace] names and [Commonfiles] lines, first
    // spelling kept, in order of first appearance.
    const CStringArray& GetReplaceNames() const { return replaceNames; }
    const CStringArray& GetCommonFileLines() const { return commonFileLines; }

private:
    void LoadReplaceNames();
    void LoadCommonFiles();

    PackageHandle package;
    CString configPath;
    CString unpackFolder;
    CStringArray replaceNames;
    CStringArray commonFileLines;
};
