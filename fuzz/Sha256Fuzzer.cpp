// Arbitrary bytes cut at arbitrary points: both engines, whole and in pieces, give one digest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "Sha256.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 1u << 16)
        return 0;
    // The first byte seeds the piece lengths; the rest is the message.
    uint32_t cut = data[0] * 2654435761u + 1;
    const uint8_t* message = data + 1;
    const size_t length = size - 1;

    const Sha256Digest whole = Sha256Of(message, length, Sha256::Engine::kPortable);
    if (Sha256Of(message, length, Sha256::Engine::kBest) != whole)
        std::abort();
    for (Sha256::Engine engine : {Sha256::Engine::kBest, Sha256::Engine::kPortable}) {
        Sha256 hash(engine);
        size_t at = 0;
        while (at < length) {
            cut = cut * 1103515245u + 12345u;
            // Short pieces mostly (around the 64-byte block), a long one now and then.
            const size_t want = (cut >> 16) % 8 == 0 ? (cut >> 8) % 4096 : (cut >> 8) % 130;
            const size_t piece = want < length - at ? want : length - at;
            hash.Update(message + at, piece);
            at += piece;
        }
        if (hash.Final() != whole)
            std::abort();
    }
    return 0;
}
