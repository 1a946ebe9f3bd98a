// Names and limits that the launcher, the package unpacker and the packaging tools must agree on.
#pragma once

#include <cstdint>

#include "ContainerFormat.h"

// The launcher carries its package as resources of its own module: type
// OEMDATA, the container under DEFAULT, the language settings under
// LANGUAGE_INI, the container's checksum record (PackageChecksum.h) under
// CHECKSUM and, when it has split compressed entries and was made by make,
// their piece index (PieceIndex.h) under INDEX.
inline constexpr char kOemResourceType[] = "OEMDATA";
inline constexpr char kPackageResourceName[] = "DEFAULT";
inline constexpr char kLanguageResourceName[] = "LANGUAGE_INI";
inline constexpr char kChecksumResourceName[] = "CHECKSUM";
inline constexpr char kIndexResourceName[] = "INDEX";

// Smallest package resource the launcher accepts, in bytes.
inline constexpr uint32_t kMinimumPackageSize = 1024;

// The architectures Setup.exe is built for: x86 (32-bit, PE32) and x64 (PE32+).
enum class LauncherArchitecture { kX86, kX64 };

// The architecture's name as the tools write and take it: "x86" or "x64".
constexpr const char* LauncherArchitectureName(LauncherArchitecture architecture)
{
    return architecture == LauncherArchitecture::kX64 ? "x64" : "x86";
}

// Largest package resource the x86 launcher can load, in bytes (1.75 GiB).
// The x86 Setup.exe is a 32-bit, large-address-aware process that has its own
// image, with the package inside, mapped, and maps the setup.oem it writes
// from it whole while it takes the installer out: the package is in its
// address space twice. Measured under Wine 8 on a 64-bit system (4 GiB of
// address space) by launching stamped programs of rising size: 1.8 GiB
// launched, 1.85 GiB failed to map setup.oem; this bound keeps some room
// below that.
inline constexpr uint64_t kMaxLaunchablePackageSizeX86 = 0x70000000;

// Largest package resource the x64 launcher can load, in bytes (4092 MiB).
// A 64-bit process has room for the package twice over whatever its size;
// what bounds it is the stamped program's file, whose offsets are 32 bits and
// which holds the launcher's own 1.2 MB besides the package. Measured under
// Wine 8 (wine64) by launching stamped programs of rising size: every package
// up to 4094 MiB launched, one of 4095 MiB no longer fits a program file. This
// bound leaves the launcher 4 MiB, so that the file's limit is never the one met.
inline constexpr uint64_t kMaxLaunchablePackageSizeX64 = 0xFFC00000;
static_assert(kMaxLaunchablePackageSizeX64 < kMaxPackageSize, "the container holds any package the x64 launcher loads");

// The largest package the launcher of an architecture can load; the packaging
// tools refuse to stamp a larger one into it.
constexpr uint64_t MaxLaunchablePackageSize(LauncherArchitecture architecture)
{
    return architecture == LauncherArchitecture::kX64 ? kMaxLaunchablePackageSizeX64 : kMaxLaunchablePackageSizeX86;
}

// Inside the package: the group and entry of its configuration file, the
// group of the files that file names by key (its section of the same name
// lists them), and the key of the installer the launcher starts.
inline constexpr char kConfigGroup[] = "Config";
inline constexpr char kConfigEntry[] = "CONFIG.INI";
inline constexpr char kCommonFilesGroup[] = "Commonfiles";
inline constexpr char kInstallerKey[] = "ORG.SETUP.EXE";
