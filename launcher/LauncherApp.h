// The launcher's application object: unpacks the package in its resources and runs the installer.
#pragma once

#include <windows.h>

#include <cstdint>

#include "CString.h"
#include "CWinApp.h"
#include "HeldFile.h"
#include "Status.h"
#include "WorkFolder.h"

class CFile;
class PackageUnpacker;
struct PackageChecksum;

// Exit status of a launch that failed before the installer ran (the Windows
// Installer's "fatal error during installation"). When the installer ran, the
// launcher exits with the installer's own exit code instead.
constexpr int kLaunchFailedExitCode = 1603;

// The settings read from the work folder's Language.ini.
struct LanguageSettings {
    UINT useDefault = 1;
    CString selectLanguage;
};

class LauncherApp : public CWinApp {
public:
    LauncherApp();
    ~LauncherApp() override;

    // The whole launch; always FALSE, so no message loop runs and the process
    // ends with ExitInstance's result. Shows the progress window, then takes
    // the launch's steps on a second thread while this one keeps the window
    // answering (RunWithProgress) until the installer has been started.
    BOOL InitInstance() override;
    // The installer's exit code when it ran, kLaunchFailedExitCode otherwise.
    int ExitInstance() override;

    // The temporary path ending in "\", or "" when it does not fit MAX_PATH.
    CString GetTempFolder();
    // As the free CreateFolderTree: 1 when the folder exists at the end.
    int CreateFolderTree(CString path);
    // The launcher's own folder without a trailing "\", or "" when its path
    // cannot be read or does not fit MAX_PATH.
    CString GetModuleFolder();

    // OEMDATA/DEFAULT and OEMDATA/LANGUAGE_INI of the resource module: the
    // bytes, or null when absent or empty; *size is written only on success.
    const void* LoadPackageResource(DWORD* size);
    const void* LoadLanguageResource(DWORD* size);

    // Writes size bytes at package to a new file at path (create or truncate)
    // in pieces of 1 MiB, setting the progress bar to 20 once the file is open,
    // moving it towards 40 with the bytes written, and to 40 when all is
    // written and checked. On success *held stays open with write
    // access and read sharing only, so the file cannot be changed or replaced
    // until the caller closes it. When expected is given and the bytes'
    // CRC-32C differs from it, the file is closed and deleted and the result
    // is the failure "The OEM data is damaged: ...".
    Status WritePackageFile(const CString& path, const void* package, DWORD size, const PackageChecksum* expected,
                            CFile* held);

    // The tail of commandLine from its first "/" (included), or "" when there is
    // none or it is the first character.
    static CString GetPassThroughArgs(const CString& commandLine);
    // [LANGUAGE] UseDefault (default 1) and SelectLanguage (default "") of iniPath.
    static LanguageSettings ReadLanguageSettings(const char* iniPath);
    // "\"<exePath>\" <args>", followed by " /L<selectLanguage>" when useDefault is 0.
    static CString BuildInstallerCommandLine(const CString& exePath, const CString& passThroughArgs,
                                             const LanguageSettings& language);

protected:
    // The bytes free to this user on the volume of folder; false when the
    // volume cannot be asked (the free-space check is then passed over).
    // Virtual so that a test build of the launcher can stand in a small volume.
    virtual bool QueryFreeSpace(const CString& folder, uint64_t* freeBytes);
    // Called between unpacking the installer to exePath and holding it; a
    // test build of the launcher stands in whoever changes the file then.
    virtual void InstallerUnpacked(const CString& exePath);
    // Called between writing Language.ini to iniPath and holding it; a test
    // build of the launcher stands in whoever changes the file then.
    virtual void LanguageWritten(const CString& iniPath);
    // Called on the launch's thread each time the bar has moved with the bytes
    // of a long step (setup.oem written, the installer unpacked and checked);
    // a test build of the launcher makes those steps long here.
    virtual void ProgressMoved(int position);

private:
    // The work folder of one launch and the files the launch writes into it.
    // Destroyed on every path: that removes the work folder (WorkFolder::Remove).
    struct WorkFiles {
        WorkFolder folder;
        // setup.exe, held from its extraction until the installer has been started.
        HeldFile installer;
        // Language.ini, held from its check until the installer's command line is built.
        HeldFile language;
        CString workFolder;
        CString oemPath;
        CString iniPath;
        CString exePath;
    };

    const void* LoadOemResource(const char* name, DWORD* size);
    // The launch's steps after the progress window has opened, in order.
    void Launch(const CString& passThroughArgs);
    // A ProgressSpan's setter: the bar to position, then ProgressMoved.
    static void MoveProgress(int position, void* app);

    // The steps of the launch, in the order InitInstance takes them. A failed
    // step's message is the install-log record it calls for; it is empty when
    // the failure has been recorded already or is not recorded at all.

    // The package's checksum record, *present false when the launcher carries
    // none. A record that is malformed or names another size than packageSize
    // fails: the package is damaged.
    Status ReadPackageChecksum(DWORD packageSize, PackageChecksum* checksum, bool* present);
    // Sweeps stale work folders of earlier launches from the temporary path,
    // then creates "<temp path>{GUID}" fresh (a new GUID while the name is
    // taken, at most kWorkFolderAttempts), marked, held against rename and
    // delete until it is removed, and with access for this process's user
    // only (administrators and SYSTEM when elevated, the user reading), and
    // sets the paths of the files in it.
    Status MakeWorkFolder(WorkFiles* files);
    // Fails when the work folder's volume has less room than the package plus
    // the largest file of group Commonfiles (the installer) take.
    Status CheckFreeSpace(const CString& workFolder, const void* package, DWORD packageSize);
    // Stages the Setup.cfg support files and copies sn.bat from the launcher's
    // own folder; fails only when that folder cannot be named.
    Status TakeModuleFiles(const CString& workFolder);
    // setup.oem from the package resource, checked against expected (unless
    // null) and left open in *heldPackage (see WritePackageFile), then
    // Language.ini from the language resource (empty without one).
    Status WritePackageFiles(const void* package, DWORD packageSize, const PackageChecksum* expected,
                             const WorkFiles& files, CFile* heldPackage);
    // Holds Language.ini (files->language), compares what it holds with the
    // language resource (an empty file without one) and only then reads
    // *language from it: a file changed before the hold is refused.
    Status ReadHeldLanguageSettings(WorkFiles* files, LanguageSettings* language);
    // Opens setup.oem with unpacker, extracts the installer to setup.exe,
    // holds it (files->installer) and compares what it holds with the
    // package's entry: a file changed before the hold is refused. The bar
    // goes from 70 to 100 with the installer's bytes written, then compared.
    Status ExtractInstaller(PackageUnpacker& unpacker, WorkFiles* files);
    // Runs commandLine in the work folder and waits for it, with exitCode set;
    // lets the held installer go once CreateProcessA has returned.
    Status RunInstaller(const CString& commandLine, WorkFiles* files);

    // Writes size bytes to a new file at path (create or truncate), setting the
    // progress bar to openedPosition once the file is open and to
    // writtenPosition (unless negative) after the write.
    Status WriteWorkFile(const CString& path, const void* bytes, DWORD size, int openedPosition, int writtenPosition);

    int exitCode = kLaunchFailedExitCode;
};
