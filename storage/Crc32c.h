// CRC-32C (Castagnoli): the checksum the launcher uses to recognise a damaged package.
//
// The reflected polynomial 0x82F63B78, initial value and final xor 0xFFFFFFFF
// (the iSCSI / SSE4.2 CRC32 instruction's variant): "123456789" gives
// 0xE3069283. Computed with the SSE4.2 instruction when the processor has it
// (decided once, at run time), otherwise with eight 256-entry tables (slicing
// by 8); both give the same values.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-32C of size bytes at data continued from crc, the CRC-32C of the
// bytes before them (0 for none): Crc32cExtend(Crc32cExtend(0, a), b) is the
// CRC-32C of a followed by b. data may be null when size is 0.
uint32_t Crc32cExtend(uint32_t crc, const void* data, size_t size);

// The CRC-32C of size bytes at data.
inline uint32_t Crc32c(const void* data, size_t size) { return Crc32cExtend(0, data, size); }

// Crc32cExtend by the tables only, whatever the processor has (what the
// instruction's results are checked against).
uint32_t Crc32cExtendPortable(uint32_t crc, const void* data, size_t size);

// True when Crc32cExtend uses the processor's CRC32 instruction.
bool Crc32cUsesHardware();
