// SHA-256 (FIPS 180-4): unrolled portable rounds, and the x86/x64 SHA extensions chosen at run time.
#include "Sha256.h"

#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define OEM_SHA256_SHANI 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

constexpr uint32_t kBlockSize = 64;
// Where the message length goes in the last block.
constexpr uint32_t kLengthOffset = kBlockSize - 8;

constexpr uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// The round constants, aligned so that the SHA-extensions code can load four at a time.
alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t LoadBigEndian32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}

inline void StoreBigEndian32(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

inline uint32_t Rotr(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

// One round, with the working variables passed rotated instead of moved: only d and h change.
inline void Round(uint32_t a, uint32_t b, uint32_t c, uint32_t& d, uint32_t e, uint32_t f, uint32_t g, uint32_t& h,
                  uint32_t roundPlusWord)
{
    const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (g ^ (e & (f ^ g))) + roundPlusWord;
    const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) | (c & (a | b)));
    d += t1;
    h = t1 + t2;
}

// Word r of the schedule from the 16 before it, kept in a ring of 16.
inline uint32_t Expand(uint32_t* w, unsigned r)
{
    const uint32_t w15 = w[(r + 1) & 15], w2 = w[(r + 14) & 15];
    const uint32_t s0 = Rotr(w15, 7) ^ Rotr(w15, 18) ^ (w15 >> 3);
    const uint32_t s1 = Rotr(w2, 17) ^ Rotr(w2, 19) ^ (w2 >> 10);
    return w[r & 15] += s1 + w[(r + 9) & 15] + s0;
}

// Sixteen rounds from round j on; after the first sixteen the words come from the schedule.
template <bool kExpand>
inline void SixteenRounds(uint32_t* v, uint32_t* w, unsigned j)
{
    uint32_t a = v[0], b = v[1], c = v[2], d = v[3], e = v[4], f = v[5], g = v[6], h = v[7];
    const uint32_t* k = kRound + j;
    auto word = [w](unsigned r) { return kExpand ? Expand(w, r) : w[r]; };
    Round(a, b, c, d, e, f, g, h, k[0] + word(0));
    Round(h, a, b, c, d, e, f, g, k[1] + word(1));
    Round(g, h, a, b, c, d, e, f, k[2] + word(2));
    Round(f, g, h, a, b, c, d, e, k[3] + word(3));
    Round(e, f, g, h, a, b, c, d, k[4] + word(4));
    Round(d, e, f, g, h, a, b, c, k[5] + word(5));
    Round(c, d, e, f, g, h, a, b, k[6] + word(6));
    Round(b, c, d, e, f, g, h, a, k[7] + word(7));
    Round(a, b, c, d, e, f, g, h, k[8] + word(8));
    Round(h, a, b, c, d, e, f, g, k[9] + word(9));
    Round(g, h, a, b, c, d, e, f, k[10] + word(10));
    Round(f, g, h, a, b, c, d, e, k[11] + word(11));
    Round(e, f, g, h, a, b, c, d, k[12] + word(12));
    Round(d, e, f, g, h, a, b, c, k[13] + word(13));
    Round(c, d, e, f, g, h, a, b, k[14] + word(14));
    Round(b, c, d, e, f, g, h, a, k[15] + word(15));
    v[0] = a, v[1] = b, v[2] = c, v[3] = d, v[4] = e, v[5] = f, v[6] = g, v[7] = h;
}

void PortableBlocks(uint32_t* state, const uint8_t* data, size_t count)
{
    for (; count > 0; --count, data += kBlockSize) {
        uint32_t w[16];
        for (unsigned i = 0; i < 16; ++i)
            w[i] = LoadBigEndian32(data + 4 * i);
        uint32_t v[8];
        std::memcpy(v, state, sizeof v);
        SixteenRounds<false>(v, w, 0);
        SixteenRounds<true>(v, w, 16);
        SixteenRounds<true>(v, w, 32);
        SixteenRounds<true>(v, w, 48);
        for (unsigned i = 0; i < 8; ++i)
            state[i] += v[i];
    }
}

#ifdef OEM_SHA256_SHANI
#define OEM_SHA256_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Rounds 4i..4i+3 with message words m[i % 4]; also advances the schedule: m[(i + 1) % 4]
// receives its second half (words 4i+4..4i+7) and m[(i + 3) % 4] its first.
OEM_SHA256_TARGET inline __attribute__((always_inline)) void FourRounds(__m128i& abef, __m128i& cdgh, __m128i* m,
                                                                        unsigned i)
{
    __m128i& current = m[i & 3];
    __m128i words = _mm_add_epi32(current, _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * i)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
    if (i >= 3 && i <= 14) {
        __m128i& next = m[(i + 1) & 3];
        next = _mm_add_epi32(next, _mm_alignr_epi8(current, m[(i + 3) & 3], 4));
        next = _mm_sha256msg2_epu32(next, current);
    }
    words = _mm_shuffle_epi32(words, 0x0E);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, words);
    if (i >= 1 && i <= 12) {
        __m128i& previous = m[(i + 3) & 3];
        previous = _mm_sha256msg1_epu32(previous, current);
    }
}

OEM_SHA256_TARGET void HardwareBlocks(uint32_t* state, const uint8_t* data, size_t count)
{
    // Big-endian words out of the little-endian lanes.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    // The instructions keep the state as ABEF and CDGH.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count > 0; --count, data += kBlockSize) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i m[4];
        for (unsigned i = 0; i < 4; ++i)
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
        FourRounds(abef, cdgh, m, 0);
        FourRounds(abef, cdgh, m, 1);
        FourRounds(abef, cdgh, m, 2);
        FourRounds(abef, cdgh, m, 3);
        FourRounds(abef, cdgh, m, 4);
        FourRounds(abef, cdgh, m, 5);
        FourRounds(abef, cdgh, m, 6);
        FourRounds(abef, cdgh, m, 7);
        FourRounds(abef, cdgh, m, 8);
        FourRounds(abef, cdgh, m, 9);
        FourRounds(abef, cdgh, m, 10);
        FourRounds(abef, cdgh, m, 11);
        FourRounds(abef, cdgh, m, 12);
        FourRounds(abef, cdgh, m, 13);
        FourRounds(abef, cdgh, m, 14);
        FourRounds(abef, cdgh, m, 15);
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

bool DetectHardware()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0)
        return false;
    const bool ssse3 = (ecx & (1u << 9)) != 0, sse41 = (ecx & (1u << 19)) != 0;
    // __get_cpuid_count refuses a leaf above the highest the processor reports.
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0)
        return false;
    const bool sha = (ebx & (1u << 29)) != 0;
    return ssse3 && sse41 && sha;
}
#endif

}  // namespace

bool Sha256Digest::operator==(const Sha256Digest& other) const
{
    return std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
}

bool Sha256::HardwareAvailable()
{
#ifdef OEM_SHA256_SHANI
    static const bool available = DetectHardware();
    return available;
#else
    return false;
#endif
}

Sha256::Sha256(Engine engine)
    : state_(), pending_(), pendingLength_(0), totalLength_(0), hardware_(engine == Engine::kBest && HardwareAvailable())
{
    std::memcpy(state_, kInitialState, sizeof state_);
}

void Sha256::Blocks(const uint8_t* data, size_t count)
{
#ifdef OEM_SHA256_SHANI
    if (hardware_) {
        HardwareBlocks(state_, data, count);
        return;
    }
#endif
    PortableBlocks(state_, data, count);
}

void Sha256::Update(const uint8_t* data, size_t length)
{
    if (length == 0)
        return;
    totalLength_ += length;
    if (pendingLength_ > 0) {
        const size_t take = length < kBlockSize - pendingLength_ ? length : kBlockSize - pendingLength_;
        std::memcpy(pending_ + pendingLength_, data, take);
        pendingLength_ += static_cast<uint32_t>(take);
        data += take;
        length -= take;
        if (pendingLength_ < kBlockSize)
            return;
        Blocks(pending_, 1);
        pendingLength_ = 0;
    }
    const size_t whole = length / kBlockSize;
    if (whole > 0)
        Blocks(data, whole);
    const size_t rest = length % kBlockSize;
    std::memcpy(pending_, data + whole * kBlockSize, rest);
    pendingLength_ = static_cast<uint32_t>(rest);
}

Sha256Digest Sha256::Final()
{
    // The bit length counts modulo 2^64, as the standard pads it.
    const uint64_t bits = totalLength_ * 8;
    pending_[pendingLength_++] = 0x80;
    if (pendingLength_ > kLengthOffset) {
        std::memset(pending_ + pendingLength_, 0, kBlockSize - pendingLength_);
        Blocks(pending_, 1);
        pendingLength_ = 0;
    }
    std::memset(pending_ + pendingLength_, 0, kLengthOffset - pendingLength_);
    StoreBigEndian32(pending_ + kLengthOffset, static_cast<uint32_t>(bits >> 32));
    StoreBigEndian32(pending_ + kLengthOffset + 4, static_cast<uint32_t>(bits));
    Blocks(pending_, 1);

    Sha256Digest digest;
    for (unsigned i = 0; i < 8; ++i)
        StoreBigEndian32(digest.bytes + 4 * i, state_[i]);
    std::memcpy(state_, kInitialState, sizeof state_);
    pendingLength_ = 0;
    totalLength_ = 0;
    return digest;
}

Sha256Digest Sha256Of(const uint8_t* data, size_t length, Sha256::Engine engine)
{
    Sha256 hash(engine);
    hash.Update(data, length);
    return hash.Final();
}
