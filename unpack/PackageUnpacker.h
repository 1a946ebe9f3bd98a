// The launcher's one-object view of an installation package: open, unpack its configuration, extract by key.
//
// Open unpacks the package's CONFIG.INI (group "Config") into a fresh folder
// "<temp path>{GUID}" and loads its [ResourceReplace] names and [Commonfiles]
// lines; ExtractCommonFile writes the entry that [Commonfiles] names under a
// key; Close(1), and so the destructor, deletes everything that was unpacked.
//
// The unpack folder is made like the launcher's work folder (WorkFolder,
// FolderSecurity): never an existing folder, with the access rules for this
// process from its creation, held open against rename and delete until
// Close(1) removes it, marked so that the start-up sweep takes it when a
// launch dies. CONFIG.INI is held with read sharing only from its unpacking
// until Close(1), and compared with its entry once held: what ExtractCommonFile
// reads is the package's own, also where the folder's rules are not enforced.
#pragma once

#include "CString.h"
#include "CStringArray.h"
#include "FolderSecurity.h"
#include "GuidText.h"
#include "HeldFile.h"
#include "PackageHandle.h"
#include "ProgressHook.h"
#include "WorkFolder.h"


class PackageUnpacker {
public:
    PackageUnpacker();
    virtual ~PackageUnpacker();
    PackageUnpacker(const PackageUnpacker&) = delete;
    PackageUnpacker& operator=(const PackageUnpacker&) = delete;

    // mode 1..4 opens the package as PackageHandle modes 0..3 (1 create new,
    // 2 create always, 3 open existing, 4 open always). 0 for any other mode
    // or when the package cannot be opened; nothing is created then. Also 0,
    // with the package closed again and nothing left, when the access rules
    // cannot be built or the unpack folder cannot be created (every name tried
    // taken: ERROR_ALREADY_EXISTS); the last-error value says why. Missing
    // folders of the temporary path itself are created. Also 0, with nothing
    // left, when CONFIG.INI cannot be unpacked or held (the system's error,
    // ERROR_SHARING_VIOLATION while someone else has it open) or is not the
    // entry's bytes once held (ERROR_FILE_INVALID). On success the unpack
    // folder exists; a package without Config\CONFIG.INI, or with an empty
    // one, opens with an empty configuration. 1 on success.
    int Open(const char* path, int mode);
    // Writes the entry of group "Commonfiles" that [Commonfiles] names under key
    // to destinationPath (a full path: folder, '\\', file name), always
    // overwriting. 0 when the key is absent or its value longer than 259 bytes,
    // when destinationPath has no '\\' or is longer than 259 bytes, or when the
    // extraction fails (the last-error value tells why, see PackageHandle).
    // progress (when given) is told of the bytes written, piece by piece.
    int ExtractCommonFile(const char* key, const char* destinationPath, ProgressHook* progress = nullptr);
    // The size of that entry (decoded) into *size: 1, or 0 with
    // ERROR_FILE_NOT_FOUND when the key names nothing (as for
    // ExtractCommonFile) or no entry.
    int GetCommonFileSize(const char* key, uint32_t* size);
    // 1 when the file that held holds has exactly the bytes of the entry that
    // ExtractCommonFile(key, ...) writes (the decoded bytes of a compressed
    // one), compared in pieces. 0 with ERROR_FILE_INVALID when they differ;
    // otherwise 0 with ERROR_FILE_NOT_FOUND when the key names nothing (as
    // for ExtractCommonFile) or no entry, with PackageHandle's code when the
    // entry cannot be read, with the system's when the file cannot. progress
    // (when given) is told of the bytes compared, piece by piece.
    int CompareCommonFile(const char* key, const HeldFile& held, ProgressHook* progress = nullptr);
    // Gives the open package the piece index that came with it
    // (PackageHandle::SetPieceIndex): split entries are then decoded on every
    // processor. 1 when read, 0 when malformed (then unused).
    int SetPieceIndex(const void* bytes, uint32_t size) { return package.SetPieceIndex(bytes, size); }
    // Closes the package; with removeFiles, also lets CONFIG.INI go, deletes it
    // and the unpack folder with everything in it (WorkFolder::Remove: retried
    // while busy, else one log record and deletion at restart), and forgets
    // paths and lists.
    void Close(int removeFiles);

    const CString& GetUnpackFolder() const { return unpackFolder; }
    const CString& GetConfigPath() const { return configPath; }
    // The distinct [ResourceReplace] names and [Commonfiles] lines, first
    // spelling kept, in order of first appearance.
    const CStringArray& GetReplaceNames() const { return replaceNames; }
    const CStringArray& GetCommonFileLines() const { return commonFileLines; }

protected:
    // For tests: the unpack folder's GUIDs come from create.
    explicit PackageUnpacker(GuidCreator create);
    // The access rules the unpack folder is created with; built by Open.
    FolderSecurity& FolderRules() { return folderRules; }
    // Called by Open between unpacking CONFIG.INI to path and holding it; a
    // test build stands in whoever changes the file then.
    virtual void ConfigUnpacked(const char* path);

private:
    // The value of key in [Commonfiles] into value; false when there is none
    // or it does not fit MAX_PATH.
    bool CommonFileName(const char* key, char (&value)[MAX_PATH + 1]);
    // As CompareCommonFile, for the entry name of group.
    int CompareEntry(const char* name, const char* group, const HeldFile& held, ProgressHook* progress = nullptr);
    void LoadReplaceNames();
    void LoadCommonFiles();

    PackageHandle package;
    CString configPath;
    CString unpackFolder;
    CStringArray replaceNames;
    CStringArray commonFileLines;
    GuidCreator guidCreator = CoCreateGuid;
    FolderSecurity folderRules;
    WorkFolder folder;
    HeldFile heldConfig;
    // The last compressed entry ExtractCommonFile wrote, and the digest of
    // its bytes: comparing a file with it needs no second decoding.
    CString writtenName;
    WrittenEntry written;
};
