// SHA-256 of bytes handed over in pieces: the processor's SHA instructions where it has them.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kSha256DigestSize = 32;

// A SHA-256 digest (FIPS 180-4), in the byte order the standard prints it.
struct Sha256Digest {
    uint8_t bytes[kSha256DigestSize];

    bool operator==(const Sha256Digest& other) const;
    bool operator!=(const Sha256Digest& other) const { return !(*this == other); }
};

// The digest of a message given to Update in pieces of any lengths (0
// included; data may be null when length is 0), in order: the same digest
// whatever the pieces. Final gives the digest and leaves the object as newly
// made. No allocation; never fails. One object is for one thread at a time;
// separate objects may be used on separate threads.
class Sha256 {
public:
    // kBest: the x86/x64 SHA extensions when the processor reports them
    // (CPUID, once per process), else portable code. kPortable: portable code
    // always (tests compare the two). Both give the same digests.
    enum class Engine { kBest, kPortable };

    explicit Sha256(Engine engine = Engine::kBest);

    void Update(const uint8_t* data, size_t length);
    Sha256Digest Final();

    // Whether this object's blocks go through the SHA instructions.
    bool UsesHardware() const { return hardware_; }
    // Whether this processor has the SHA instructions this code uses (SHA,
    // SSSE3 and SSE4.1): asked of CPUID once per process, thread-safe.
    static bool HardwareAvailable();

private:
    void Blocks(const uint8_t* data, size_t count);

    uint32_t state_[8];
    uint8_t pending_[64];
    uint32_t pendingLength_;
    uint64_t totalLength_;
    bool hardware_;
};

// The digest of length bytes at data in one call.
Sha256Digest Sha256Of(const uint8_t* data, size_t length, Sha256::Engine engine = Sha256::Engine::kBest);
