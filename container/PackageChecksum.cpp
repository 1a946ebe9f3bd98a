// The checksum record of a stamped package: computing, writing and reading it.
#include "PackageChecksum.h"

#include <cstring>

#include "Crc32c.h"

namespace {

constexpr char kTag[4] = {'C', '3', '2', 'C'};

}  // namespace

PackageChecksum PackageChecksum::Of(const void* package, uint32_t size)
{
    PackageChecksum checksum;
    checksum.crc = Crc32c(package, size);
    checksum.size = size;
    return checksum;
}

std::array<uint8_t, kPackageChecksumRecordSize> PackageChecksum::Encode() const
{
    std::array<uint8_t, kPackageChecksumRecordSize> record{};
    ByteSpan out(record.data(), kPackageChecksumRecordSize);
    (void)out.WriteBytes(0, kTag, sizeof kTag);
    (void)out.WriteU32(4, crc);
    (void)out.WriteU32(8, static_cast<uint32_t>(size));
    (void)out.WriteU32(12, static_cast<uint32_t>(size >> 32));
    return record;
}

bool PackageChecksum::Decode(const ByteView& record, PackageChecksum* checksum)
{
    const uint8_t* tag = nullptr;
    uint32_t crc = 0, low = 0, high = 0;
    if (record.Size() != kPackageChecksumRecordSize || !record.Bytes(0, sizeof kTag, &tag) ||
        std::memcmp(tag, kTag, sizeof kTag) != 0 || !record.ReadU32(4, &crc) || !record.ReadU32(8, &low) ||
        !record.ReadU32(12, &high))
        return false;
    checksum->crc = crc;
    checksum->size = static_cast<uint64_t>(high) << 32 | low;
    return true;
}
