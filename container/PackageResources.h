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

// Largest package resource the launcher can load, in bytes (1.75 GiB); the
// packaging tools refuse to stamp a larger one. Setup.exe is a 32-bit,
// large-address-aware process that has its own image, with the package
// inside, mapped, and maps the setup.oem it writes from it whole while it
// takes the installer out: the package is in its address space twice.
// Measured under Wine 8 on a 64-bit system (4 GiB of address space) by
// launching stamped programs of rising size: 1.8 GiB launched, 1.85 GiB
// failed to map setup.oem; this bound keeps some room below that.
inline constexpr uint64_t kMaxLaunchablePackageSize = 0x70000000;

// Inside the package: the group and entry of its configuration file, the
// group of the files that file names by key (its section of the same name
// lists them), and the key of the installer the launcher starts.
inline constexpr char kConfigGroup[] = "Config";
inline constexpr char kConfigEntry[] = "CONFIG.INI";
inline constexpr char kCommonFilesGroup[] = "Commonfiles";
inline constexpr char kInstallerKey[] = "ORG.SETUP.EXE";
