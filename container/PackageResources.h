// Names and limits that the launcher, the package unpacker and the packaging tools must agree on.
#pragma once

#include <cstdint>

// The launcher carries its package as resources of its own module: type
// OEMDATA, the container under DEFAULT, the language settings under
// LANGUAGE_INI and the container's checksum record (PackageChecksum.h) under
// CHECKSUM.
inline constexpr char kOemResourceType[] = "OEMDATA";
inline constexpr char kPackageResourceName[] = "DEFAULT";
inline constexpr char kLanguageResourceName[] = "LANGUAGE_INI";
inline constexpr char kChecksumResourceName[] = "CHECKSUM";

// Smallest package resource the launcher accepts, in bytes.
inline constexpr uint32_t kMinimumPackageSize = 1024;

// Largest package resource the launcher can load, in bytes; the packaging
// tools refuse to stamp a larger one. Not measured yet: Setup.exe is a 32-bit
// process that has its own image, with the package inside, mapped and then
// writes the package out in one piece, so 2 GiB - 1 (the most a signed 32-bit
// count holds, and the user address space of a 32-bit process) is the bound
// until the launcher loads larger packages and the real figure is measured by
// launching stamped programs of rising size under Windows.
inline constexpr uint64_t kMaxLaunchablePackageSize = 0x7FFFFFFF;

// Inside the package: the group and entry of its configuration file, the
// group of the files that file names by key (its section of the same name
// lists them), and the key of the installer the launcher starts.
inline constexpr char kConfigGroup[] = "Config";
inline constexpr char kConfigEntry[] = "CONFIG.INI";
inline constexpr char kCommonFilesGroup[] = "Commonfiles";
inline constexpr char kInstallerKey[] = "ORG.SETUP.EXE";
