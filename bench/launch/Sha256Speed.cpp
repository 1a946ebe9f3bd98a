// How fast Windows' own SHA-256 (BCrypt) hashes a buffer: the cost a digest check of a decoded installer would add.
//
// Usage: Sha256Speed [MiB] [runs]  (default 64 MiB, 5 runs). Hashes a buffer of
// that size (a repeating pattern) in 1 MiB pieces, as a digest taken while
// writing would, once per run, and prints each run's milliseconds and MB/s.
#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    const unsigned mib = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 64;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    std::vector<unsigned char> data(static_cast<size_t>(mib) << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        std::printf("no SHA-256 provider\n");
        return 1;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        BCRYPT_HASH_HANDLE hash = nullptr;
        unsigned char digest[32];
        if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0)
            return 1;
        constexpr size_t kPiece = 1u << 20;
        for (size_t at = 0; at < data.size(); at += kPiece)
            BCryptHashData(hash, data.data() + at, static_cast<ULONG>(data.size() - at < kPiece ? data.size() - at : kPiece), 0);
        BCryptFinishHash(hash, digest, sizeof digest, 0);
        BCryptDestroyHash(hash);
        QueryPerformanceCounter(&end);
        const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        std::printf("run %d: %u MiB in %.1f ms, %.0f MB/s (digest %02x%02x...)\n", run + 1, mib, ms,
                    static_cast<double>(data.size()) / ms / 1000.0, digest[0], digest[1]);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return 0;
}
