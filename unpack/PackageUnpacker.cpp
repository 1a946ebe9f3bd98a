// The package unpacker: opens a package, unpacks its configuration, extracts by configuration key.
#include "PackageUnpacker.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

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

// Bytes of a held file read at a time while it is compared with its entry.
// Under Wine every read costs a round trip to the server: 256 KiB pieces took
// 60 to 80 ms of processor time for 256 MiB, 1 MiB pieces 30 to 50 ms, larger
// ones no less. Mapping the file instead cost 150 to 300 ms in page faults.
constexpr DWORD kComparePieceSize = 1u << 20;

// A held file read in pieces of its own alongside the pieces of its entry.
struct HeldFileComparison {
    const HeldFile* file;
    uint8_t* buffer;
    DWORD bufferSize;
    uint64_t nextOffset = 0;  // of the file's next piece
    DWORD filled = 0;         // bytes of the buffer read
    DWORD compared = 0;       // of them compared
    bool differs = false;
    uint32_t readError = 0;
    ProgressHook* progress = nullptr;
};

bool CompareWithHeldFile(const uint8_t* data, uint32_t length, void* context)
{
    HeldFileComparison& comparison = *static_cast<HeldFileComparison*>(context);
    while (length > 0) {
        if (comparison.compared == comparison.filled) {
            DWORD read = 0;
            const Status status =
                comparison.file->ReadAt(comparison.nextOffset, comparison.buffer, comparison.bufferSize, &read);
            if (!status) {
                comparison.readError = status.Code();
                return false;
            }
            // A file that ends before its entry does.
            if (read == 0) {
                comparison.differs = true;
                return false;
            }
            comparison.nextOffset += read;
            comparison.filled = read;
            comparison.compared = 0;
        }
        const DWORD count = std::min<DWORD>(length, comparison.filled - comparison.compared);
        if (std::memcmp(comparison.buffer + comparison.compared, data, count) != 0) {
            comparison.differs = true;
            return false;
        }
        comparison.compared += count;
        data += count;
        length -= count;
        if (comparison.progress)
            comparison.progress->Advance(count);
    }
    return true;
}

// 1 when the size bytes of the held file, read into buffer in pieces, have
// the SHA-256 digest; 0 with ERROR_FILE_INVALID when they do not (or the file
// ends before them), with the system's code when a read fails.
int DigestMatches(const HeldFile& held, uint32_t size, uint8_t* buffer, DWORD bufferSize, const Sha256Digest& digest,
                  ProgressHook* progress)
{
    Sha256 hash;
    for (uint32_t at = 0; at < size;) {
        DWORD read = 0;
        const Status status = held.ReadAt(at, buffer, std::min<DWORD>(bufferSize, size - at), &read);
        if (!status) {
            SetLastError(status.Code());
            return 0;
        }
        if (read == 0) {
            SetLastError(ERROR_FILE_INVALID);
            return 0;
        }
        hash.Update(buffer, read);
        at += read;
        if (progress)
            progress->Advance(read);
    }
    if (hash.Final() != digest) {
        SetLastError(ERROR_FILE_INVALID);
        return 0;
    }
    return 1;
}

}  // namespace

PackageUnpacker::PackageUnpacker() = default;

PackageUnpacker::PackageUnpacker(GuidCreator create) : guidCreator(create) {}

PackageUnpacker::~PackageUnpacker() { Close(1); }

int PackageUnpacker::Open(const char* path, int mode)
{
    if (mode < 1 || mode > 4)
        return 0;
    writtenName.Empty();
    written = WrittenEntry();
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

    // Without a configuration nothing is read from configPath: whatever is
    // there is not the package's.
    uint32_t configSize = 0;
    if (!package.GetEntryInfo(kConfigEntry, kConfigGroup, nullptr, &configSize) || configSize == 0)
        return 1;
    // The folder's access rules protect CONFIG.INI only where they are
    // enforced: what is held must also be the entry, or nothing is read.
    if (!package.ExtractEntry(kConfigEntry, kConfigGroup, unpackFolder, nullptr, kOverwriteAlways)) {
        LastErrorGuard keep;
        Close(1);
        return 0;
    }
    ConfigUnpacked(configPath);
    const Status held = heldConfig.Hold(configPath);
    if (!held) {
        Close(1);
        SetLastError(held.Code());
        return 0;
    }
    if (!CompareEntry(kConfigEntry, kConfigGroup, heldConfig)) {
        LastErrorGuard keep;
        Close(1);
        return 0;
    }
    LoadReplaceNames();
    LoadCommonFiles();
    return 1;
}

void PackageUnpacker::ConfigUnpacked(const char*) {}

bool PackageUnpacker::CommonFileName(const char* key, char (&value)[MAX_PATH + 1])
{
    // One byte beyond the 260-byte value buffer tells a value that would not
    // have fitted from one that fills it exactly.
    DWORD length = 0;
    if (key && heldConfig.Held())
        length = GetPrivateProfileStringA(kCommonFilesGroup, key, "", value, sizeof(value), configPath);
    return value[0] != '\0' && length < MAX_PATH;
}

int PackageUnpacker::CompareEntry(const char* name, const char* group, const HeldFile& held, ProgressHook* progress)
{
    uint32_t entrySize = 0;
    if (!package.GetEntryInfo(name, group, nullptr, &entrySize))
        return 0;
    uint64_t fileSize = 0;
    const Status sized = held.GetSize(&fileSize);
    if (!sized) {
        SetLastError(sized.Code());
        return 0;
    }
    if (fileSize != entrySize) {
        SetLastError(ERROR_FILE_INVALID);
        return 0;
    }
    // The entry just written: the digest taken of its bytes as they were
    // decoded stands in for decoding them again. A cryptographic one, as a
    // file made to match a weaker sum could be put in the entry's place.
    const DWORD bufferSize = std::max<DWORD>(1, std::min<DWORD>(entrySize, kComparePieceSize));
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bufferSize]);
    if (!buffer) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (written.digested && std::strcmp(group, kCommonFilesGroup) == 0 && writtenName == name)
        return DigestMatches(held, entrySize, buffer.get(), bufferSize, written.digest, progress);
    HeldFileComparison comparison{&held, buffer.get(), bufferSize};
    comparison.progress = progress;
    if (package.ReadEntryPieces(name, group, CompareWithHeldFile, &comparison))
        return 1;
    if (comparison.differs)
        SetLastError(ERROR_FILE_INVALID);
    else if (comparison.readError != 0)
        SetLastError(comparison.readError);
    return 0;
}

int PackageUnpacker::CompareCommonFile(const char* key, const HeldFile& held, ProgressHook* progress)
{
    char value[MAX_PATH + 1] = {};
    if (!CommonFileName(key, value)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return CompareEntry(value, kCommonFilesGroup, held, progress);
}

int PackageUnpacker::GetCommonFileSize(const char* key, uint32_t* size)
{
    char value[MAX_PATH + 1] = {};
    if (!CommonFileName(key, value)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return package.GetEntryInfo(value, kCommonFilesGroup, nullptr, size);
}

int PackageUnpacker::ExtractCommonFile(const char* key, const char* destinationPath, ProgressHook* progress)
{
    char value[MAX_PATH + 1] = {};
    const bool named = CommonFileName(key, value);
    OutputDebugStringA("345634");
    OutputDebugStringA(value);
    OutputDebugStringA(key ? key : "");
    OutputDebugStringA(configPath);
    if (!named)
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
    writtenName.Empty();
    const int result =
        package.ExtractEntry(value, kCommonFilesGroup, folder, fileName, kOverwriteAlways, progress, &written);
    if (result && written.digested)
        writtenName = value;
    return result;
}

void PackageUnpacker::Close(int removeFiles)
{
    package.Close();
    writtenName.Empty();
    written = WrittenEntry();
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
