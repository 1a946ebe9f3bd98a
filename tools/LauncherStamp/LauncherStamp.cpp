// Stamps the package resources into a copy of the launcher with the portable PE resource writer.
#include "LauncherStamp.h"

#include <cstring>
#include <string>

#include "FileSink.h"
#include "PackageChecksum.h"
#include "PeImage.h"
#include "PeResourceWriter.h"
#include "ResourceSource.h"
#include "ResourceTree.h"
#include "SystemApi.h"

const char kDefaultLanguageIni[] = "[LANGUAGE]\r\nUseDefault =1\r\nSelectLanguage = 0x0404\r\n";
static_assert(sizeof(kDefaultLanguageIni) - 1 == kDefaultLanguageIniSize,
              "the shipped LANGUAGE_INI is 52 bytes");

namespace {

// MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL).
constexpr uint16_t kNeutralLanguage = 0;
// Room a unique name needs after the folder: a separator and "oemXXXX.tmp" plus its terminator.
constexpr size_t kTemporaryNameRoom = 14;

// Deletes the temporary copy unless it has been moved into place; a failed
// delete does not overwrite the error that is being reported.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile()
    {
        if (!path_.empty()) {
            LastErrorGuard keep;
            SetPathAttributes(path_.c_str(), kFileAttributeNormal);
            (void)DeletePath(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    void Set(const std::string& path) { path_ = path; }
    const std::string& Path() const { return path_; }
    void Release() { path_.clear(); }

private:
    std::string path_;
};

// The folder part of path, or "." when it has none (on Windows "C:." for "C:name").
std::string FolderOf(const std::string& path)
{
    std::string::size_type cut = path.find_last_of(kPathSeparator == '\\' ? "\\/:" : "/");
    if (cut == std::string::npos)
        return ".";
    if (path[cut] == ':')
        return path.substr(0, cut + 1) + ".";
    return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

// The bytes the stamp writes: the package and, unless null, the language settings.
struct StampedBytes {
    const void* package;
    uint32_t packageSize;
    const void* languageIni;
    uint32_t languageSize;
};

Status CheckArguments(const char* launcherPath, const char* outputPath, const StampedBytes& bytes)
{
    if (launcherPath == nullptr || outputPath == nullptr || *launcherPath == '\0' || *outputPath == '\0' ||
        bytes.package == nullptr || bytes.packageSize == 0 ||
        (bytes.languageIni == nullptr && bytes.languageSize != 0))
        return Status::Error(kErrorInvalidParameter, "missing argument");
    if (std::strlen(outputPath) >= static_cast<size_t>(kMaxPath))
        return Status::Error(kErrorFilenameExcedRange, std::string(outputPath) + ": path too long");
    return Status::Ok();
}

// Reserves a new empty file beside outputPath for the copy.
Status ReserveBesideOutput(const char* outputPath, TemporaryFile& temporary)
{
    const std::string folder = FolderOf(outputPath);
    if (folder.size() > kMaxPath - kTemporaryNameRoom)
        return Status::Error(kErrorFilenameExcedRange, folder + ": path too long");
    const uint32_t attributes = GetPathAttributes(folder.c_str());
    if (attributes == kInvalidFileAttributes || (attributes & kFileAttributeDirectory) == 0)
        return Status::Error(kErrorPathNotFound, "the folder " + folder + " does not exist");
    char path[kMaxPath] = {};
    if (!CreateUniqueFile(folder.c_str(), "oem", path))
        return Status::LastError("cannot create a file in " + folder);
    temporary.Set(path);
    return Status::Ok();
}

// Writes the planned copy into the temporary file.
Status WriteCopy(const PeResourceWriter& writer, const std::string& path)
{
    FileSink sink;
    Status status = sink.Create(path.c_str());
    if (status)
        status = writer.Write(sink);
    if (status)
        status = sink.Close();
    return status;
}

Status Stamp(const char* launcherPath, const char* outputPath, const StampedBytes& bytes, StampReport* report)
{
    Status status = CheckArguments(launcherPath, outputPath, bytes);
    if (!status)
        return status;
    PeImage image;
    ResourceTree tree;
    status = PeImage::Load(launcherPath, &image);
    if (status)
        status = ResourceTree::Read(image, &tree).WithContext(launcherPath);
    if (!status)
        return status;

    // Replace drops the resource under every language first, so no older
    // version of the stamped resources survives.
    MemorySource package(ByteView(static_cast<const uint8_t*>(bytes.package), bytes.packageSize));
    MemorySource languageIni(ByteView(static_cast<const uint8_t*>(bytes.languageIni), bytes.languageSize));
    const auto checksumRecord = PackageChecksum::Of(bytes.package, bytes.packageSize).Encode();
    MemorySource checksum(ByteView(checksumRecord.data(), kPackageChecksumRecordSize));
    const ResourceId type = ResourceId::AsciiName(kOemResourceType);
    tree.Replace(type, ResourceId::AsciiName(kPackageResourceName), kNeutralLanguage, &package);
    tree.Replace(type, ResourceId::AsciiName(kChecksumResourceName), kNeutralLanguage, &checksum);
    if (bytes.languageIni != nullptr && bytes.languageSize != 0)
        tree.Replace(type, ResourceId::AsciiName(kLanguageResourceName), kNeutralLanguage, &languageIni);
    else
        tree.Remove(type, ResourceId::AsciiName(kLanguageResourceName));

    PeResourceWriter writer;
    status = PeResourceWriter::Prepare(image, tree, &writer).WithContext(launcherPath);
    if (!status)
        return status;

    TemporaryFile temporary;
    status = ReserveBesideOutput(outputPath, temporary);
    if (status)
        status = WriteCopy(writer, temporary.Path());
    if (!status)
        return status;
    if (!ReplacePath(temporary.Path().c_str(), outputPath))
        return Status::LastError(std::string("cannot replace ") + outputPath);
    temporary.Release();
    report->droppedCertificateSize = writer.Summary().droppedCertificateSize;
    return Status::Ok();
}

}  // namespace

Status StampLauncherFile(const char* launcherPath, const char* outputPath, const void* package,
                         uint32_t packageSize, const void* languageIni, uint32_t languageSize,
                         StampReport* report)
{
    StampReport unused;
    return Stamp(launcherPath, outputPath, {package, packageSize, languageIni, languageSize},
                 report != nullptr ? report : &unused);
}

int StampLauncher(const char* launcherPath, const char* outputPath, const void* package,
                  uint32_t packageSize, const void* languageIni, uint32_t languageSize)
{
    const Status stamped =
        StampLauncherFile(launcherPath, outputPath, package, packageSize, languageIni, languageSize, nullptr);
    // Set here, after every clean-up: NO_ERROR on success, else the failure's code.
    SetLastErrorValue(stamped.Code());
    return stamped ? 1 : 0;
}
