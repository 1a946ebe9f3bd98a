// The launch: package resource -> work folder -> installer -> wait -> clean up.
#include "LauncherApp.h"

#include <io.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "CFile.h"
#include "Crc32c.h"
#include "ErrorLog.h"
#include "FolderSecurity.h"
#include "FolderUtilities.h"
#include "GuidText.h"
#include "PackageChecksum.h"
#include "PackageReader.h"
#include "PackageResources.h"
#include "PackageUnpacker.h"
#include "ProgressDialog.h"
#include "ProgressHook.h"
#include "SetupCfgStaging.h"

namespace {

// Package unpacker mode: open an existing package file.
constexpr int kOpenExistingPackage = 3;
// The files the launcher writes into the work folder, and the files beside
// itself it takes along.
constexpr char kPackageFileName[] = "setup.oem";
constexpr char kLanguageFileName[] = "Language.ini";  // the longest of the work folder's names
constexpr char kInstallerFileName[] = "setup.exe";
constexpr char kSerialBatchName[] = "sn.bat";
// The checksum thread looks for a request to stop after every piece of this
// size, and setup.oem is written in pieces of it, the bar moving after each.
constexpr DWORD kChecksumPieceSize = 1u << 20;

// The CRC-32C of a block of memory, computed on a thread of its own while the
// caller writes the same bytes to disk, so that the check costs no time of
// its own on a machine with two cores. A checksum that is dropped unread
// stops at its next piece; where no thread can be started, Result computes
// it in place.
class BackgroundChecksum {
public:
    BackgroundChecksum(const uint8_t* bytes, DWORD size) : bytes_(bytes), size_(size)
    {
        try {
            worker_ = std::thread([this] { crc_ = Compute(); });
        } catch (const std::system_error&) {
            // Computed by Result instead.
        }
    }
    ~BackgroundChecksum()
    {
        stop_.store(true, std::memory_order_relaxed);
        if (worker_.joinable())
            worker_.join();
    }
    BackgroundChecksum(const BackgroundChecksum&) = delete;
    BackgroundChecksum& operator=(const BackgroundChecksum&) = delete;

    // Waits for the whole block.
    uint32_t Result()
    {
        if (!worker_.joinable())
            return Compute();
        worker_.join();
        return crc_;
    }

private:
    uint32_t Compute() const
    {
        uint32_t crc = 0;
        for (DWORD at = 0; at < size_ && !stop_.load(std::memory_order_relaxed);) {
            const DWORD piece = std::min(size_ - at, kChecksumPieceSize);
            crc = Crc32cExtend(crc, bytes_ + at, piece);
            at += piece;
        }
        return crc;
    }

    const uint8_t* bytes_;
    DWORD size_;
    std::atomic<bool> stop_{false};
    uint32_t crc_ = 0;
    std::thread worker_;
};

// Whether an open file holds any bytes; a file whose size cannot be read
// counts as holding some.
bool HoldsBytes(const CFile& file)
{
    try {
        return file.GetLength() != 0;
    } catch (const CFileException&) {
        return true;
    }
}

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

// A failed step whose message is the install-log record it calls for.
Status LogRecord(uint32_t code, const char* format, ...) __attribute__((format(printf, 2, 3)));
Status LogRecord(uint32_t code, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    CString record;
    record.FormatV(format, args);
    va_end(args);
    return Status::Error(code, record.GetString());
}

// The package resource must be there and hold at least kMinimumPackageSize bytes.
Status CheckPackage(const void* package, DWORD size)
{
    if (!package || size < kMinimumPackageSize)
        return LogRecord(ERROR_RESOURCE_DATA_NOT_FOUND, "Can't found any OEM data or invalid OEM data.");
    return Status::Ok();
}

// The uncompressed size of the largest entry of group Commonfiles, which
// holds the installer; 0 when the package is not a readable container (the
// package interface refuses it later, with its own record). The largest entry
// rather than the one CONFIG.INI names, so the estimate never falls short.
uint64_t LargestCommonFile(const void* package, DWORD size)
{
    PackageReader reader;
    if (!reader.Open(static_cast<const uint8_t*>(package), size))
        return 0;
    return reader.GetLargestEntrySize(kCommonFilesGroup);
}

// Whether the launch goes on after step; a failed step's record (if it has
// one) goes to the install log first.
bool Proceed(const Status& step)
{
    if (!step && !step.Message().empty())
        LogError("%s", step.Message().c_str());
    return step.IsOk();
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

bool LauncherApp::QueryFreeSpace(const CString& folder, uint64_t* freeBytes)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr))
        return false;
    *freeBytes = available.QuadPart;
    return true;
}

void LauncherApp::InstallerUnpacked(const CString&) {}

void LauncherApp::LanguageWritten(const CString&) {}

void LauncherApp::ProgressMoved(int) {}

void LauncherApp::MoveProgress(int position, void* app)
{
    SetProgress(position);
    static_cast<LauncherApp*>(app)->ProgressMoved(position);
}

Status LauncherApp::ReadPackageChecksum(DWORD packageSize, PackageChecksum* checksum, bool* present)
{
    *present = FindResourceA(AfxGetResourceHandle(), kChecksumResourceName, kOemResourceType) != nullptr;
    if (!*present)
        return Status::Ok();
    DWORD size = 0;
    const void* record = LoadOemResource(kChecksumResourceName, &size);
    if (!record || !PackageChecksum::Decode(ByteView(static_cast<const uint8_t*>(record), size), checksum))
        return LogRecord(ERROR_INVALID_DATA, "The OEM data is damaged: its checksum record is malformed.");
    if (checksum->size != packageSize)
        return LogRecord(ERROR_INVALID_DATA, "The OEM data is damaged: %llu bytes expected, %lu found.",
                         static_cast<unsigned long long>(checksum->size), static_cast<unsigned long>(packageSize));
    return Status::Ok();
}

Status LauncherApp::CheckFreeSpace(const CString& workFolder, const void* package, DWORD packageSize)
{
    // A volume that cannot be asked is passed over: a full disk still fails
    // the writes, with their own records.
    uint64_t freeBytes = 0;
    if (!QueryFreeSpace(workFolder, &freeBytes))
        return Status::Ok();
    const uint64_t needed = packageSize + LargestCommonFile(package, packageSize);
    if (needed > freeBytes)
        return LogRecord(ERROR_DISK_FULL, "Not enough disk space in %s: %llu bytes needed, %llu bytes free.",
                         workFolder.GetString(), static_cast<unsigned long long>(needed),
                         static_cast<unsigned long long>(freeBytes));
    return Status::Ok();
}

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

Status LauncherApp::WriteWorkFile(const CString& path, const void* bytes, DWORD size, int openedPosition,
                                  int writtenPosition)
{
    CFile file;
    CFileException error;
    if (!file.Open(path, CFile::modeCreate | CFile::modeReadWrite, &error)) {
        const uint32_t code = static_cast<uint32_t>(error.m_lOsError);
        return LogRecord(code, "Failure to create a new setup.exe(%s),error:%lu.", path.GetString(),
                         static_cast<unsigned long>(error.m_lOsError));
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
        return LogRecord(static_cast<uint32_t>(e.m_lOsError), "Failure to write data to setup.exe(%s),error:%lu.",
                         path.GetString(), static_cast<unsigned long>(e.m_lOsError));
    }
    return Status::Ok();
}

Status LauncherApp::RunInstaller(const CString& commandLine, WorkFiles* files)
{
    std::vector<char> writable(commandLine.GetString(), commandLine.GetString() + commandLine.GetLength() + 1);
    // 68 bytes on 32-bit Windows, 104 on 64-bit: zeroed whole for the architecture built for.
    static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 8 ? 104 : 68), "STARTUPINFOA of this architecture");
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    const BOOL started = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                                        nullptr, files->workFolder, &startup, &process);
    const DWORD code = started ? ERROR_SUCCESS : GetLastError();
    // The installer's own image is mapped now: it may change itself from here on.
    files->installer.Release();
    if (!started)
        return LogRecord(code, "Failure to create process %s, error:%lu", commandLine.GetString(), code);
    CloseProgress();
    PumpMessages();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD installerExit = 0;
    if (GetExitCodeProcess(process.hProcess, &installerExit))
        exitCode = static_cast<int>(installerExit);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return Status::Ok();
}

Status LauncherApp::MakeWorkFolder(WorkFiles* files)
{
    // GetTempFolder has recorded why it gives nothing.
    const CString tempFolder = GetTempFolder();
    if (tempFolder.IsEmpty())
        return Status::Error(ERROR_FILENAME_EXCED_RANGE);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    WorkFolder::SweepStale(tempFolder, now);

    FolderSecurity security;
    const Status rules = security.BuildForThisProcess();
    if (!rules)
        return LogRecord(rules.Code(), "Failure to build the work folder's access rules, error:%lu.",
                         static_cast<unsigned long>(rules.Code()));
    // Every GUID name has the same length: one check covers all attempts.
    CString workFolder = tempFolder + MakeGuidText();
    if (workFolder.GetLength() + 1 + static_cast<int>(sizeof kLanguageFileName) > MAX_PATH)
        return LogRecord(ERROR_FILENAME_EXCED_RANGE, "Path too long for the work folder: %s", workFolder.GetString());
    // A folder of that name made by someone else is never taken over.
    const Status created =
        files->folder.CreateFresh(tempFolder, security.Attributes(), kWorkFolderAttempts, CoCreateGuid, &workFolder);
    if (!created)
        return LogRecord(created.Code(), "Failure to create the work folder %s, error:%lu.", workFolder.GetString(),
                         static_cast<unsigned long>(created.Code()));
    files->workFolder = workFolder;
    files->oemPath = PathIn(workFolder, kPackageFileName);
    files->iniPath = PathIn(workFolder, kLanguageFileName);
    files->exePath = PathIn(workFolder, kInstallerFileName);
    return Status::Ok();
}

Status LauncherApp::TakeModuleFiles(const CString& workFolder)
{
    // A launcher that cannot name its own folder stops here, unrecorded.
    const CString moduleFolder = GetModuleFolder();
    if (moduleFolder.IsEmpty())
        return Status::Error(ERROR_FILENAME_EXCED_RANGE);
    // Staged only when readable and writable; a missing or read-only Setup.cfg
    // is passed over, as is a missing sn.bat.
    const CString cfgPath = PathIn(moduleFolder, kSetupCfgName);
    if (!cfgPath.IsEmpty() && _access(cfgPath, 6) != -1)
        StageSupportFiles(cfgPath, workFolder, moduleFolder);
    const CString batchTarget = PathIn(workFolder, kSerialBatchName);
    const CString batchSource = PathIn(moduleFolder, kSerialBatchName);
    if (!batchSource.IsEmpty())
        CopyFileA(batchSource, batchTarget, FALSE);
    SetProgress(10);
    return Status::Ok();
}

Status LauncherApp::WritePackageFile(const CString& path, const void* package, DWORD size,
                                     const PackageChecksum* expected, CFile* held)
{
    // The work folder is new, so setup.oem normally is too: it is opened
    // without truncation first, and truncated (opened again, replacing it)
    // only when something is there already, e.g. a file Setup.cfg staged.
    // Truncating costs nothing on Windows, but Linux file systems that flush a
    // truncated-then-rewritten file at its first close then write the whole
    // package to disk (under Wine a third of a second per GiB, and seconds on
    // a busy disk), although the file is deleted once the installer has ended.
    CFileException error;
    const unsigned mode = CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite;
    bool opened = held->Open(path, mode | CFile::modeNoTruncate, &error);
    if (opened && HoldsBytes(*held)) {
        held->Abort();
        opened = held->Open(path, mode, &error);
    }
    if (!opened) {
        const uint32_t code = static_cast<uint32_t>(error.m_lOsError);
        return LogRecord(code, "Failure to create a new setup.exe(%s),error:%lu.", path.GetString(),
                         static_cast<unsigned long>(error.m_lOsError));
    }
    SetProgress(20);
    const uint8_t* bytes = static_cast<const uint8_t*>(package);
    std::unique_ptr<BackgroundChecksum> checksum;
    if (expected)
        checksum = std::make_unique<BackgroundChecksum>(bytes, size);
    ProgressSpan written(20, 40, size, MoveProgress, this);
    try {
        for (DWORD at = 0; at < size;) {
            const DWORD piece = std::min(size - at, kChecksumPieceSize);
            held->Write(bytes + at, piece);
            at += piece;
            written.Advance(piece);
        }
    } catch (const CFileException& e) {
        held->Abort();
        return LogRecord(static_cast<uint32_t>(e.m_lOsError), "Failure to write data to setup.exe(%s),error:%lu.",
                         path.GetString(), static_cast<unsigned long>(e.m_lOsError));
    }
    const uint32_t crc = checksum ? checksum->Result() : 0;
    if (expected && crc != expected->crc) {
        held->Abort();
        DeleteFileA(path);
        return LogRecord(ERROR_INVALID_DATA, "The OEM data is damaged: checksum %08X expected, %08X found.",
                         static_cast<unsigned>(expected->crc), static_cast<unsigned>(crc));
    }
    SetProgress(40);
    return Status::Ok();
}

Status LauncherApp::WritePackageFiles(const void* package, DWORD packageSize, const PackageChecksum* expected,
                                      const WorkFiles& files, CFile* heldPackage)
{
    const Status written = WritePackageFile(files.oemPath, package, packageSize, expected, heldPackage);
    if (!written)
        return written;
    // A missing language resource makes an empty Language.ini: the defaults apply.
    DWORD languageSize = 0;
    const void* languageIni = LoadLanguageResource(&languageSize);
    return WriteWorkFile(files.iniPath, languageIni, languageIni ? languageSize : 0, 50, -1);
}

Status LauncherApp::ReadHeldLanguageSettings(WorkFiles* files, LanguageSettings* language)
{
    DWORD size = 0;
    const void* written = LoadLanguageResource(&size);
    if (!written)
        size = 0;
    LanguageWritten(files->iniPath);
    // SelectLanguage goes onto the installer's command line as it stands:
    // only the bytes written from the resource may be read.
    const Status held = files->language.Hold(files->iniPath);
    if (!held)
        return LogRecord(held.Code(), "Failure to hold %s, error:%lu.", files->iniPath.GetString(),
                         static_cast<unsigned long>(held.Code()));
    bool same = false;
    const Status compared = files->language.Matches(written, size, &same);
    if (!compared)
        return LogRecord(compared.Code(), "Failure to check the language settings %s, error:%lu.",
                         files->iniPath.GetString(), static_cast<unsigned long>(compared.Code()));
    if (!same)
        return LogRecord(ERROR_FILE_INVALID, "The language settings %s changed after they were written.",
                         files->iniPath.GetString());
    *language = ReadLanguageSettings(files->iniPath);
    return Status::Ok();
}

Status LauncherApp::ExtractInstaller(PackageUnpacker& unpacker, WorkFiles* files)
{
    if (!unpacker.Open(files->oemPath, kOpenExistingPackage))
        return LogRecord(GetLastError(), "Failure to open OEM data file %s", files->oemPath.GetString());
    // Where the pieces of a split installer start, when the package has such
    // a record: they are decoded on every processor. A record that does not
    // fit the package costs only the time to find that out.
    DWORD indexSize = 0;
    if (const void* index = LoadOemResource(kIndexResourceName, &indexSize))
        unpacker.SetPieceIndex(index, indexSize);
    SetProgress(70);
    // Written, then compared once held: the bar covers the installer's bytes twice.
    uint32_t installerSize = 0;
    {
        // The extraction's own failure, below, is what the record reports.
        LastErrorGuard keep;
        unpacker.GetCommonFileSize(kInstallerKey, &installerSize);
    }
    ProgressSpan unpacked(70, 100, 2 * static_cast<uint64_t>(installerSize), MoveProgress, this);
    if (!unpacker.ExtractCommonFile(kInstallerKey, files->exePath, &unpacked))
        return LogRecord(GetLastError(), "Failure to copy %%ORG.SETUP.EXE%% to %s", files->exePath.GetString());
    InstallerUnpacked(files->exePath);
    // From here until it has been started, the installer cannot be replaced.
    const Status held = files->installer.Hold(files->exePath);
    if (!held)
        return LogRecord(held.Code(), "Failure to hold %s, error:%lu.", files->exePath.GetString(),
                         static_cast<unsigned long>(held.Code()));
    // Before the hold only the work folder's access rules kept the file as
    // unpacked, and they are not enforced everywhere: what is held must be
    // the entry, byte for byte.
    if (!unpacker.CompareCommonFile(kInstallerKey, files->installer, &unpacked)) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_INVALID)
            return LogRecord(code, "The installer %s changed after it was unpacked.", files->exePath.GetString());
        return LogRecord(code, "Failure to check the installer %s, error:%lu.", files->exePath.GetString(),
                         static_cast<unsigned long>(code));
    }
    SetProgress(100);
    // The installer is on disk: release the in-memory package now rather than
    // hold a copy of it for the installer's whole run. The unpacked files stay
    // until the unpacker is destroyed.
    unpacker.Close(0);
    return Status::Ok();
}

BOOL LauncherApp::InitInstance()
{
    exitCode = kLaunchFailedExitCode;
    AfxEnableControlContainer();

    const CString passThroughArgs = GetPassThroughArgs(CString(GetCommandLineA()));
    Enable3dControls();

    ShowProgress();
    SetProgress(0);
    RunWithProgress([&] { Launch(passThroughArgs); });
    return FALSE;
}

void LauncherApp::Launch(const CString& passThroughArgs)
{
    DWORD packageSize = 0;
    const void* package = LoadPackageResource(&packageSize);
    PackageChecksum checksum;
    bool checked = false;
    // Removes the work folder on every path once it has been created.
    WorkFiles files;
    // setup.oem, held from its writing until the installer is out of it: others
    // may read it meanwhile, but nobody may change or replace it.
    CFile heldPackage;
    if (!Proceed(CheckPackage(package, packageSize)) ||
        !Proceed(ReadPackageChecksum(packageSize, &checksum, &checked)) || !Proceed(MakeWorkFolder(&files)) ||
        !Proceed(CheckFreeSpace(files.workFolder, package, packageSize)) ||
        !Proceed(TakeModuleFiles(files.workFolder)) ||
        !Proceed(WritePackageFiles(package, packageSize, checked ? &checksum : nullptr, files, &heldPackage)))
        return;
    LanguageSettings language;
    if (!Proceed(ReadHeldLanguageSettings(&files, &language)))
        return;

    // Destroyed on every path from here on: that removes its own unpack folder.
    PackageUnpacker unpacker;
    const Status extracted = ExtractInstaller(unpacker, &files);
    heldPackage.Abort();
    if (!Proceed(extracted))
        return;
    const CString commandLine = BuildInstallerCommandLine(files.exePath, passThroughArgs, language);
    files.language.Release();
    if (!Proceed(RunInstaller(commandLine, &files)))
        return;
    // On the other paths files' destructor removes it, after the unpacker's.
    files.folder.Remove();
}
