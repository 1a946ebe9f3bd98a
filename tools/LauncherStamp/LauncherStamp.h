// Places a package and its language settings into a copy of the launcher.
#pragma once

#include <cstdint>

#include "PackageResources.h"
#include "Status.h"

class ResourceSource;

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
// package, which is skipped. Refused besides: a package of 0 bytes
// (kErrorInvalidParameter) or of more than kMaxLaunchablePackageSize bytes
// (kErrorFileTooLarge). A failed read of the source comes back with its own code.
Status StampLauncherFromSource(const char* launcherPath, const char* outputPath, ResourceSource& package,
                               const void* languageIni, uint32_t languageSize, StampReport* report);
