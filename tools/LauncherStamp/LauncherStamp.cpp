// Stamps the package resources into a copy of the launcher with the portable PE resource writer.
#include "LauncherStamp.h"

#include <cstring>
#include <string>
#include <vector>

#include "Crc32c.h"
#include "FileSink.h"
#include "LauncherBranding.h"
#include "PackageChecksum.h"
#include "PeFormat.h"
#include "PeImage.h"
#include "PeText.h"
#include "PeResourceWriter.h"
#include "ResourceSource.h"
#include "ResourceTree.h"
#include "StagedFile.h"
#include "SystemApi.h"

const char kDefaultLanguageIni[] = "[LANGUAGE]\r\nUseDefault =1\r\nSelectLanguage = 0x0404\r\n";
static_assert(sizeof(kDefaultLanguageIni) - 1 == kDefaultLanguageIniSize,
              "the shipped LANGUAGE_INI is 52 bytes");

namespace {

// MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL).
constexpr uint16_t kNeutralLanguage = 0;

// The resources the stamp writes: the package and, unless null, the language settings.
struct StampedBytes {
    ResourceSource* package;
    PackageChecksum checksum;
    const void* languageIni;
    uint32_t languageSize;
    const LauncherBranding* branding;  // null: the launcher's own identity
    ByteView pieceIndex;
};

Status CheckArguments(const char* launcherPath, const char* outputPath, const StampedBytes& bytes)
{
    if (launcherPath == nullptr || outputPath == nullptr || *launcherPath == '\0' || *outputPath == '\0' ||
        bytes.package->Size() == 0 || (bytes.languageIni == nullptr && bytes.languageSize != 0))
        return Status::Error(kErrorInvalidParameter, "missing argument");
    if (std::strlen(outputPath) >= static_cast<size_t>(kMaxPath))
        return Status::Error(kErrorFilenameExcedRange, std::string(outputPath) + ": path too long");
    return Status::Ok();
}

// The checksum record of the package, read from its source in pieces (the
// writer reads the source again for the copy itself).
Status ChecksumOf(ResourceSource& package, PackageChecksum* checksum)
{
    constexpr uint32_t kPiece = 1u << 20;
    std::vector<uint8_t> piece;
    const uint64_t size = package.Size();
    uint32_t crc = 0;
    for (uint64_t offset = 0; offset < size;) {
        const uint32_t length = static_cast<uint32_t>(size - offset < kPiece ? size - offset : kPiece);
        const uint8_t* bytes = package.InPlace(offset, length);
        if (bytes == nullptr) {
            piece.resize(kPiece);
            const Status read = package.Read(offset, piece.data(), length);
            if (!read)
                return read;
            bytes = piece.data();
        }
        crc = Crc32cExtend(crc, bytes, length);
        offset += length;
    }
    checksum->crc = crc;
    checksum->size = size;
    return Status::Ok();
}

// Reserves a new empty file beside outputPath for the copy.
Status ReserveBesideOutput(const char* outputPath, StagedFile& temporary)
{
    switch (temporary.Begin(outputPath)) {
    case StagedFileRefusal::kNone:
        return Status::Ok();
    case StagedFileRefusal::kPathTooLong:
        return Status::Error(kErrorFilenameExcedRange, std::string(outputPath) + ": path too long");
    case StagedFileRefusal::kFolderTooLong:
        return Status::Error(kErrorFilenameExcedRange, temporary.Folder() + ": path too long");
    case StagedFileRefusal::kTargetIsFolder:
        return Status::Error(kErrorAccessDenied, std::string("cannot replace ") + outputPath + ": it is a folder");
    case StagedFileRefusal::kNoFolder:
        return Status::Error(kErrorPathNotFound, "the folder " + temporary.Folder() + " does not exist");
    case StagedFileRefusal::kCannotCreate:
        break;
    }
    return Status::LastError("cannot create a file in " + temporary.Folder());
}

// Writes the planned copy into the temporary file.
Status WriteCopy(const PeResourceWriter& writer, const std::string& path)
{
    FileSink sink;
    Status status = sink.Create(path.c_str());
    if (status)
        status = writer.Write(sink);
    if (status)
        status = sink.Finish();
    return status;
}

// The launcher's resources with the stamped ones in place of any older versions.
Status ReadStampedTree(const char* launcherPath, const StampedBytes& bytes, ResourceSource* languageIni,
                       ResourceSource* checksum, ResourceSource* pieceIndex, const PeImage& image,
                       ResourceTree* tree)
{
    const Status status = ResourceTree::Read(image, tree).WithContext(launcherPath);
    if (!status)
        return status;
    // Replace drops the resource under every language first, so no older
    // version of the stamped resources survives.
    const ResourceId type = ResourceId::AsciiName(kOemResourceType);
    tree->Replace(type, ResourceId::AsciiName(kPackageResourceName), kNeutralLanguage, bytes.package);
    tree->Replace(type, ResourceId::AsciiName(kChecksumResourceName), kNeutralLanguage, checksum);
    if (bytes.languageIni != nullptr && bytes.languageSize != 0)
        tree->Replace(type, ResourceId::AsciiName(kLanguageResourceName), kNeutralLanguage, languageIni);
    else
        tree->Remove(type, ResourceId::AsciiName(kLanguageResourceName));
    if (bytes.pieceIndex.Size() != 0)
        tree->Replace(type, ResourceId::AsciiName(kIndexResourceName), kNeutralLanguage, pieceIndex);
    else
        tree->Remove(type, ResourceId::AsciiName(kIndexResourceName));
    return Status::Ok();
}

// Stamps once the arguments are checked, the launcher's headers read and the checksum taken.
Status Stamp(const char* launcherPath, PeImage& image, const char* outputPath, const StampedBytes& bytes,
             StampReport* report)
{
    ResourceTree tree;
    MemorySource languageIni(ByteView(static_cast<const uint8_t*>(bytes.languageIni), bytes.languageSize));
    const auto checksumRecord = bytes.checksum.Encode();
    MemorySource checksum(ByteView(checksumRecord.data(), kPackageChecksumRecordSize));
    MemorySource pieceIndex(bytes.pieceIndex);
    Status status = ReadStampedTree(launcherPath, bytes, &languageIni, &checksum, &pieceIndex, image, &tree);
    BrandedResources branded;
    if (status && bytes.branding != nullptr && !bytes.branding->Empty())
        status = branded.Apply(image, *bytes.branding, &tree);
    PeResourceWriter writer;
    if (status)
        status = PeResourceWriter::Prepare(image, tree, &writer).WithContext(launcherPath);
    if (!status)
        return status;

    StagedFile temporary;
    status = ReserveBesideOutput(outputPath, temporary);
    if (status)
        status = WriteCopy(writer, temporary.TemporaryPath());
    if (!status)
        return status;
    // The launcher's file is open while the image lives; Windows would not
    // let the copy replace it when the two are the same file.
    image = PeImage();
    if (!temporary.Commit())
        return Status::LastError(std::string("cannot replace ") + outputPath);
    report->droppedCertificateSize = writer.Summary().droppedCertificateSize;
    return Status::Ok();
}

}  // namespace

Status StampLauncherFromSource(const char* launcherPath, const char* outputPath, ResourceSource& package,
                               const void* languageIni, uint32_t languageSize, StampReport* report,
                               const LauncherBranding* branding, ByteView pieceIndex)
{
    StampReport unused;
    StampReport* said = report != nullptr ? report : &unused;
    StampedBytes bytes{&package, PackageChecksum(), languageIni, languageSize, branding, pieceIndex};
    // The arguments and the launcher's headers first: a package refused for
    // its size is not read for its checksum.
    Status status = CheckArguments(launcherPath, outputPath, bytes);
    PeImage image;
    if (status)
        status = PeImage::Open(launcherPath, &image);
    if (status)
        status = LauncherArchitectureOf(image, &said->architecture).WithContext(launcherPath);
    if (status)
        status = CheckLaunchablePackageSize(package.Size(), said->architecture);
    if (status)
        status = ChecksumOf(package, &bytes.checksum);
    if (!status)
        return status;
    return Stamp(launcherPath, image, outputPath, bytes, said);
}

Status StampLauncherFile(const char* launcherPath, const char* outputPath, const void* package,
                         uint32_t packageSize, const void* languageIni, uint32_t languageSize,
                         StampReport* report)
{
    if (package == nullptr)
        return Status::Error(kErrorInvalidParameter, "missing argument");
    MemorySource source(ByteView(static_cast<const uint8_t*>(package), packageSize));
    return StampLauncherFromSource(launcherPath, outputPath, source, languageIni, languageSize, report);
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

Status LauncherArchitectureOf(const PeImage& image, LauncherArchitecture* architecture)
{
    switch (image.Machine()) {
    case pe::kMachineI386:
        *architecture = LauncherArchitecture::kX86;
        return Status::Ok();
    case pe::kMachineAmd64:
        *architecture = LauncherArchitecture::kX64;
        return Status::Ok();
    default:
        return Status::Error(kErrorExeMachineTypeMismatch,
                             "a program for machine " + MachineName(image.Machine()) + ", neither x86 (" +
                                 pe::Hex(pe::kMachineI386) + ") nor x64 (" + pe::Hex(pe::kMachineAmd64) + ")");
    }
}

Status ReadLauncherArchitecture(const char* path, LauncherArchitecture* architecture)
{
    PeImage image;
    const Status status = PeImage::Open(path, &image);
    if (!status)
        return status;
    return LauncherArchitectureOf(image, architecture).WithContext(path);
}

std::string MachineName(uint16_t machine)
{
    if (machine == pe::kMachineI386)
        return LauncherArchitectureName(LauncherArchitecture::kX86);
    if (machine == pe::kMachineAmd64)
        return LauncherArchitectureName(LauncherArchitecture::kX64);
    return pe::Hex(machine);
}

Status CheckLaunchablePackageSize(uint64_t size, LauncherArchitecture architecture)
{
    const uint64_t limit = MaxLaunchablePackageSize(architecture);
    if (size <= limit)
        return Status::Ok();
    return Status::Error(kErrorFileTooLarge, "the package is " + std::to_string(size) + " bytes; the " +
                                                 LauncherArchitectureName(architecture) +
                                                 " launcher loads packages of at most " + std::to_string(limit) +
                                                 " bytes");
}
