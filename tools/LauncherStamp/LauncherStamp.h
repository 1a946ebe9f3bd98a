// Places a package and its language settings into a copy of the launcher.
#pragma once

#include <cstdint>
#include <string>

#include "PackageResources.h"
#include "Status.h"

class PeImage;
class ResourceSource;
struct LauncherBranding;

// The LANGUAGE_INI text shipped with the launcher (52 bytes, no terminator counted).
extern const char kDefaultLanguageIni[];
constexpr uint32_t kDefaultLanguageIniSize = 52;

// Copies launcherPath to outputPath and writes into the copy the resources
// OEMDATA/DEFAULT (package, packageSize bytes), OEMDATA/CHECKSUM (the
// package's checksum record, PackageChecksum.h) and, when languageIni is not
// null and languageSize not 0, OEMDATA/LANGUAGE_INI (languageSize bytes), all
// language neutral. The launcher's other resources are kept; versions of those
// three already in it (under any language) are dropped, so a null languageIni
// leaves the copy without LANGUAGE_INI. A signed launcher's
// certificate table is left out of the copy (see StampReport).
// Result: 1 on success; 0 on failure with the last-error value set:
//   ERROR_INVALID_PARAMETER  a null path, a null package, or packageSize 0
//   ERROR_BAD_EXE_FORMAT     the launcher is not a Windows executable
//   ERROR_EXE_MACHINE_TYPE_MISMATCH  the launcher is built for neither x86 nor x64
//   ERROR_FILE_TOO_LARGE     the package is larger than the launcher's
//                            architecture can load (MaxLaunchablePackageSize)
//   ERROR_FILENAME_EXCED_RANGE  outputPath, or its folder with room for a
//                            temporary name, does not fit MAX_PATH
//   ERROR_PATH_NOT_FOUND     the folder of outputPath does not exist
//   otherwise the error of the failed system call (open, read, write, move).
// The copy is built under a temporary name beside outputPath and moved into
// place only when complete: a failure leaves no file at outputPath (an
// existing file there is left unchanged) and no temporary file behind.
int StampLauncher(const char* launcherPath, const char* outputPath, const void* package,
                  uint32_t packageSize, const void* languageIni, uint32_t languageSize);

// What a stamp changed besides the two resources.
struct StampReport {
    // The launcher was signed: its certificate table (this many bytes) was
    // left out, since the signature no longer matches. Sign after stamping.
    uint32_t droppedCertificateSize = 0;
    // The launcher's architecture, whose limit the package was held to.
    LauncherArchitecture architecture = LauncherArchitecture::kX86;
};

// StampLauncher with its failure as a Status (the same code, and a message
// naming what was refused) and, on success, what else changed. The last-error
// value is not set.
Status StampLauncherFile(const char* launcherPath, const char* outputPath, const void* package,
                         uint32_t packageSize, const void* languageIni, uint32_t languageSize,
                         StampReport* report);

// StampLauncherFile with the package read from package in pieces (its Size()
// bytes, read from 0 to the end; read again should the copy be written twice):
// memory use grows neither with the package nor with a stamped launcher's old
// package, which is skipped. With branding (not null, not Empty()), the
// launcher's identity is changed as BrandedResources::Apply describes; its
// refusals come before anything is written. Refused besides: a package of 0 bytes
// (kErrorInvalidParameter) or of more than the launcher's architecture can
// load (kErrorFileTooLarge, CheckLaunchablePackageSize), both before the
// package is read. A failed read of the source comes back with its own code.
// pieceIndex, when not empty, goes to OEMDATA/INDEX (PieceIndex.h, language
// neutral); otherwise any INDEX the launcher had is dropped, as an index of
// another package would not fit this one.
Status StampLauncherFromSource(const char* launcherPath, const char* outputPath, ResourceSource& package,
                               const void* languageIni, uint32_t languageSize, StampReport* report,
                               const LauncherBranding* branding = nullptr, ByteView pieceIndex = ByteView());

// The launcher architecture of a program image, from its Machine field: i386
// is x86, AMD64 is x64. Any other machine is refused with
// kErrorExeMachineTypeMismatch and a message naming it in hexadecimal.
Status LauncherArchitectureOf(const PeImage& image, LauncherArchitecture* architecture);

// LauncherArchitectureOf on the program at path, reading only its headers.
// Its failures are PeImage::Open's (kErrorBadExeFormat and the file's own
// codes) and LauncherArchitectureOf's, with the path in front of the message.
Status ReadLauncherArchitecture(const char* path, LauncherArchitecture* architecture);

// A machine value as people read it: "x86", "x64", or the number in
// hexadecimal ("0xAA64") for any other machine.
std::string MachineName(uint16_t machine);

// Refuses (kErrorFileTooLarge) a package of more bytes than the launcher of
// architecture can load, with a message naming its size, the architecture
// and the limit.
Status CheckLaunchablePackageSize(uint64_t size, LauncherArchitecture architecture);
