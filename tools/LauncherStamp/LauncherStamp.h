// Places a package and its language settings into a copy of the launcher.
#pragma once

#include <cstdint>

#include "PackageResources.h"

// The LANGUAGE_INI text shipped with the launcher (52 bytes, no terminator counted).
extern const char kDefaultLanguageIni[];
constexpr uint32_t kDefaultLanguageIniSize = 52;

// Copies launcherPath to outputPath and writes into the copy the resources
// OEMDATA/DEFAULT (package, packageSize bytes) and, when languageIni is not
// null and languageSize not 0, OEMDATA/LANGUAGE_INI (languageSize bytes),
// both language neutral. The launcher's other resources are kept; versions
// of those two already in it (under any language) are dropped, so a null
// languageIni leaves the copy without LANGUAGE_INI.
// Result: 1 on success; 0 on failure with the last-error value set:
//   ERROR_INVALID_PARAMETER  a null path, a null package, or packageSize 0
//   ERROR_BAD_EXE_FORMAT     the launcher is not a Windows executable
//   otherwise the error of the failed system call (open, copy, update, move).
// The copy is built under a temporary name beside outputPath and moved into
// place only when complete: a failure leaves no file at outputPath (an
// existing file there is left unchanged) and no temporary file behind.
int StampLauncher(const char* launcherPath, const char* outputPath, const void* package,
                  uint32_t packageSize, const void* languageIni, uint32_t languageSize);
