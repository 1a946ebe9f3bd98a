// How fast SHA-256 hashes a buffer on Windows: Windows' own (BCrypt) and ours, both engines.
//
// Usage: Sha256Speed [MiB] [runs]  (default 64 MiB, 5 runs). Hashes a buffer of
// that size (a repeating pattern) in 1 MiB pieces, as a digest taken while
// writing would, once per run with each implementation, and prints each run's
// milliseconds and MB/s. Exits with 1 when the implementations disagree.
#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "Sha256.h"

namespace {

constexpr size_t kPiece = 1u << 20;

// Hashes size bytes once per run with hashOnce(digest), timing each run. False when a hash fails.
template <typename HashOnce>
bool TimeRuns(const char* name, size_t size, int runs, unsigned char* digest, HashOnce hashOnce)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        if (!hashOnce(digest))
            return false;
        QueryPerformanceCounter(&end);
        const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        std::printf("%-13s run %d: %u MiB in %.1f ms, %.0f MB/s (digest %02x%02x...)\n", name, run + 1,
                    static_cast<unsigned>(size >> 20), ms, static_cast<double>(size) / ms / 1000.0,
                    digest[0], digest[1]);
    }
    return true;
}

}  // namespace

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
    unsigned char windows[kSha256DigestSize] = {};
    const bool ok = TimeRuns("bcrypt", data.size(), runs, windows, [algorithm, &data](unsigned char* digest) {
        BCRYPT_HASH_HANDLE hash = nullptr;
        if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0)
            return false;
        for (size_t at = 0; at < data.size(); at += kPiece)
            BCryptHashData(hash, data.data() + at, static_cast<ULONG>(data.size() - at < kPiece ? data.size() - at : kPiece), 0);
        BCryptFinishHash(hash, digest, kSha256DigestSize, 0);
        BCryptDestroyHash(hash);
        return true;
    });
    BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!ok)
        return 1;

    int status = 0;
    for (Sha256::Engine engine : {Sha256::Engine::kBest, Sha256::Engine::kPortable}) {
        const char* name = Sha256(engine).UsesHardware() ? "ours sha-ni" : "ours portable";
        unsigned char ours[kSha256DigestSize] = {};
        TimeRuns(name, data.size(), runs, ours, [engine, &data](unsigned char* digest) {
            Sha256 hash(engine);
            for (size_t at = 0; at < data.size(); at += kPiece)
                hash.Update(data.data() + at, data.size() - at < kPiece ? data.size() - at : kPiece);
            const Sha256Digest result = hash.Final();
            std::memcpy(digest, result.bytes, kSha256DigestSize);
            return true;
        });
        if (runs > 0 && std::memcmp(ours, windows, kSha256DigestSize) != 0) {
            std::printf("%s: the digest differs from Windows' own\n", name);
            status = 1;
        }
    }
    return status;
}
