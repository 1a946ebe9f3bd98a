// CRC-32C by slicing-by-8 tables, or by the SSE4.2 CRC32 instruction where the processor has it.
#include "Crc32c.h"

#include <cstring>

#if (defined(__i386__) || defined(__x86_64__)) && (defined(__GNUC__) || defined(__clang__))
#define OEM_CRC32C_SSE42 1
#include <nmmintrin.h>
#endif

namespace {

constexpr uint32_t kPolynomial = 0x82F63B78u;

struct Tables {
    uint32_t t[8][256];
    constexpr Tables() : t()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t crc = i;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? (crc >> 1) ^ kPolynomial : crc >> 1;
            t[0][i] = crc;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 8; ++k)
                t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};

constexpr Tables kTables;

// Little-endian 32-bit load from unaligned bytes.
inline uint32_t Load32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Works on the inverted register (initial and final xor done by the caller).
uint32_t SoftwareUpdate(uint32_t crc, const uint8_t* p, size_t size)
{
    const auto& t = kTables.t;
    while (size >= 8) {
        const uint32_t low = Load32(p) ^ crc;
        const uint32_t high = Load32(p + 4);
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
              t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
        p += 8;
        size -= 8;
    }
    while (size-- > 0)
        crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    return crc;
}

#ifdef OEM_CRC32C_SSE42
__attribute__((target("sse4.2"))) uint32_t HardwareUpdate(uint32_t crc, const uint8_t* p, size_t size)
{
#if defined(__x86_64__)
    uint64_t wide = crc;
    while (size >= 8) {
        uint64_t word;
        std::memcpy(&word, p, sizeof word);
        wide = _mm_crc32_u64(wide, word);
        p += 8;
        size -= 8;
    }
    crc = static_cast<uint32_t>(wide);
#endif
    while (size >= 4) {
        uint32_t word;
        std::memcpy(&word, p, sizeof word);
        crc = _mm_crc32_u32(crc, word);
        p += 4;
        size -= 4;
    }
    while (size-- > 0)
        crc = _mm_crc32_u8(crc, *p++);
    return crc;
}

bool DetectHardware()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse4.2");
}
#endif

}  // namespace

bool Crc32cUsesHardware()
{
#ifdef OEM_CRC32C_SSE42
    static const bool hardware = DetectHardware();
    return hardware;
#else
    return false;
#endif
}

uint32_t Crc32cExtend(uint32_t crc, const void* data, size_t size)
{
    if (size == 0)
        return crc;
    const uint8_t* p = static_cast<const uint8_t*>(data);
#ifdef OEM_CRC32C_SSE42
    if (Crc32cUsesHardware())
        return ~HardwareUpdate(~crc, p, size);
#endif
    return ~SoftwareUpdate(~crc, p, size);
}

uint32_t Crc32cExtendPortable(uint32_t crc, const void* data, size_t size)
{
    if (size == 0)
        return crc;
    return ~SoftwareUpdate(~crc, static_cast<const uint8_t*>(data), size);
}
