// The launch: package resource -> work folder -> installer -> wait -> clean up.
#include "LauncherApp.h"

#include <io.h>

#include <cstring>
#include <vector>

#include "CFile.h"
#include "ErrorLog.h"
#include "FolderUtilities.h"
#include "GuidText.h"
#include "PackageResources.h"
#include "PackageUnpacker.h"
#include "ProgressDialog.h"
#include "SetupCfgStaging.h"

namespace {

// Package unpacker mode: open an existing package file.
constexpr int kOpenExistingPackage = 3;
// The longest name the launcher creates in the work folder.
constexpr char kLongestWorkFile[] = "\\Language.ini";

// The path of a fixed file name in folder; "" when it would not fit MAX_PATH,
// after a log record.
CString PathIn(const CString& folder, const char* name)
{
    CString path;
    path.Format("%s\\%s", folder.GetString(), name);
    if (path.GetLength() >= MAX_PATH) {
        LogError("Path too long: %s", path.GetString());
        return CString();
    }
    return path;
}

}  // namespace

LauncherApp::LauncherApp() : CWinApp(nullptr) {}

LauncherApp::~LauncherApp() = default;

int LauncherApp::ExitInstance() { return exitCode; }

CString LauncherApp::GetTempFolder()
{
    char buffer[MAX_PATH];
    return CString(::GetTempFolder(buffer));
}

int LauncherApp::CreateFolderTree(CString path) { return ::CreateFolderTree(path); }

CString LauncherApp::GetModuleFolder()
{
    char folder[MAX_PATH];
    GetModuleFolderOf(AfxGetInstanceHandle(), folder);
    return CString(folder);
}

const void* LauncherApp::LoadOemResource(const char* name, DWORD* size)
{
    HMODULE module = AfxGetResourceHandle();
    HRSRC resource = FindResourceA(module, name, kOemResourceType);
    if (!resource)
        return nullptr;
    DWORD length = SizeofResource(module, resource);
    if (length == 0)
        return nullptr;
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes)
        return nullptr;
    *size = length;
    return bytes;
}

const void* LauncherApp::LoadPackageResource(DWORD* size) { return LoadOemResource(kPackageResourceName, size); }

const void* LauncherApp::LoadLanguageResource(DWORD* size) { return LoadOemResource(kLanguageResourceName, size); }

CString LauncherApp::GetPassThroughArgs(const CString& commandLine)
{
    int index = commandLine.FindOneOf("/");
    return index > 0 ? commandLine.Mid(index) : CString();
}

LanguageSettings LauncherApp::ReadLanguageSettings(const char* iniPath)
{
    LanguageSettings settings;
    settings.useDefault = GetPrivateProfileIntA("LANGUAGE", "UseDefault", 1, iniPath);
    // Windows reads a negative value as 0; Wine passes it through.
    if (static_cast<int>(settings.useDefault) < 0)
        settings.useDefault = 0;
    OutputDebugStringA("e");
    char buffer[MAX_PATH] = {};
    GetPrivateProfileStringA("LANGUAGE", "SelectLanguage", "", buffer, sizeof buffer, iniPath);
    OutputDebugStringA("09");
    settings.selectLanguage = buffer;
    OutputDebugStringA(settings.selectLanguage);
    return settings;
}

CString LauncherApp::BuildInstallerCommandLine(const CString& exePath, const CString& passThroughArgs,
                                               const LanguageSettings& language)
{
    CString commandLine;
    if (language.useDefault == 0)
        commandLine.Format("\"%s\" %s /L%s", exePath.GetString(), passThroughArgs.GetString(),
                           language.selectLanguage.GetString());
    else
        commandLine.Format("\"%s\" %s", exePath.GetString(), passThroughArgs.GetString());
    return commandLine;
}

int LauncherApp::WriteWorkFile(const CString& path, const void* bytes, DWORD size, int openedPosition,
                               int writtenPosition)
{
    CFile file;
    CFileException error;
    if (!file.Open(path, CFile::modeCreate | CFile::modeReadWrite, &error)) {
        LogError("Failure to create a new setup.exe(%s),error:%lu.", path.GetString(),
                 static_cast<unsigned long>(error.m_lOsError));
        return 0;
    }
    SetProgress(openedPosition);
    try {
        if (size > 0)
            file.Write(bytes, size);
        if (writtenPosition >= 0)
            SetProgress(writtenPosition);
        // A failed close (data that never reached the disk) is a failed write.
        file.Close();
    } catch (const CFileException& e) {
        LogError("Failure to write data to setup.exe(%s),error:%lu.", path.GetString(),
                 static_cast<unsigned long>(e.m_lOsError));
        return 0;
    }
    return 1;
}

int LauncherApp::RunInstaller(const CString& commandLine, const CString& workFolder)
{
    std::vector<char> writable(commandLine.GetString(), commandLine.GetString() + commandLine.GetLength() + 1);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                        workFolder, &startup, &process)) {
        LogError("Failure to create process %s, error:%lu", commandLine.GetString(), GetLastError());
        return 0;
    }
    CloseProgress();
    PumpMessages();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD installerExit = 0;
    if (GetExitCodeProcess(process.hProcess, &installerExit))
        exitCode = static_cast<int>(installerExit);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

BOOL LauncherApp::InitInstance()
{
    static_assert(sizeof(STARTUPINFOA) == 68, "STARTUPINFOA of 32-bit Windows");
    exitCode = kLaunchFailedExitCode;
    AfxEnableControlContainer();

    CString passThroughArgs = GetPassThroughArgs(CString(GetCommandLineA()));
    Enable3dControls();

    ShowProgress();
    SetProgress(0);

    DWORD packageSize = 0;
    const void* package = LoadPackageResource(&packageSize);
    if (!package || packageSize < kMinimumPackageSize) {
        LogError("Can't found any OEM data or invalid OEM data.");
        return FALSE;
    }

    CString tempFolder = GetTempFolder();
    if (tempFolder.IsEmpty())
        return FALSE;
    CString workFolder = tempFolder + MakeGuidText();
    if (workFolder.GetLength() + static_cast<int>(sizeof kLongestWorkFile) > MAX_PATH) {
        LogError("Path too long for the work folder: %s", workFolder.GetString());
        return FALSE;
    }
    CreateFolderTree(workFolder);

    CString moduleFolder = GetModuleFolder();
    if (moduleFolder.IsEmpty())
        return FALSE;
    CString cfgPath = PathIn(moduleFolder, "Setup.cfg");
    if (!cfgPath.IsEmpty() && _access(cfgPath, 6) != -1)
        StageSupportFiles(cfgPath, workFolder, moduleFolder);

    CString batchTarget = PathIn(workFolder, "sn.bat");
    CString batchSource = PathIn(moduleFolder, "sn.bat");
    if (!batchSource.IsEmpty())
        CopyFileA(batchSource, batchTarget, FALSE);
    SetProgress(10);

    CString oemPath = PathIn(workFolder, "setup.oem");
    if (!WriteWorkFile(oemPath, package, packageSize, 20, 40))
        return FALSE;

    DWORD languageSize = 0;
    const void* languageIni = LoadLanguageResource(&languageSize);
    CString iniPath = PathIn(workFolder, "Language.ini");
    if (!WriteWorkFile(iniPath, languageIni, languageIni ? languageSize : 0, 50, -1))
        return FALSE;
    LanguageSettings language = ReadLanguageSettings(iniPath);

    // Destroyed on every path from here on: that removes its own unpack folder.
    PackageUnpacker unpacker;
    if (!unpacker.Open(oemPath, kOpenExistingPackage)) {
        LogError("Failure to open OEM data file %s", oemPath.GetString());
        return FALSE;
    }
    SetProgress(70);
    CString exePath = PathIn(workFolder, "setup.exe");
    if (!unpacker.ExtractCommonFile(kInstallerKey, exePath)) {
        LogError("Failure to copy %%ORG.SETUP.EXE%% to %s", exePath.GetString());
        return FALSE;
    }
    SetProgress(100);
    // The installer is on disk: release the in-memory package now rather than
    // hold a copy of it for the installer's whole run. The unpacked files stay
    // until the unpacker is destroyed.
    unpacker.Close(0);

    CString commandLine = BuildInstallerCommandLine(exePath, passThroughArgs, language);
    if (!RunInstaller(commandLine, workFolder))
        return FALSE;
    DeleteTree(workFolder);
    return FALSE;
}
