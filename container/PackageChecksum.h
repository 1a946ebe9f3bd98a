// The checksum record of a stamped package (resource OEMDATA/CHECKSUM).
//
// A fixed 16-byte record, little-endian, written beside the package by the
// stamp and checked by the launcher while it writes setup.oem:
//   offset 0, 4 bytes  tag "C32C": this layout; a different layout gets a new tag
//   offset 4, 4 bytes  CRC-32C (storage/Crc32c.h) of the package resource's bytes
//   offset 8, 8 bytes  size of the package resource in bytes
// A record of any other size or with another tag is malformed: the launcher
// treats the package as damaged.
#pragma once

#include <array>
#include <cstdint>

#include "ByteView.h"

inline constexpr uint32_t kPackageChecksumRecordSize = 16;

struct PackageChecksum {
    uint32_t crc = 0;
    uint64_t size = 0;

    // The checksum of size bytes at package.
    static PackageChecksum Of(const void* package, uint32_t size);
    // The 16-byte record.
    std::array<uint8_t, kPackageChecksumRecordSize> Encode() const;
    // Reads a record; false (and *checksum unchanged) when it is malformed.
    static bool Decode(const ByteView& record, PackageChecksum* checksum);
};
