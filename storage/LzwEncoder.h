// LZW encoder: hashed dictionary, chunked output through callbacks or straight into a vector.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "LzwStream.h"

struct LzwEncodeTable;

// Memory: the dictionary (153 KB, whatever the input length) from Compress to
// Finish, and the chunk + 8 byte output buffer.
class LzwEncoder {
public:
    LzwEncoder();
    ~LzwEncoder();
    LzwEncoder(const LzwEncoder&) = delete;
    LzwEncoder& operator=(const LzwEncoder&) = delete;

    // Codes n input bytes pulled through readByte and pushes the stream through
    // writeBlock in blocks of exactly chunkSize bytes (only its low 16 bits
    // count). Starts a new stream: fresh dictionary, buffer and count. Progress,
    // when given, is called with (0, n), every 100 bytes, and (n, n).
    // 1 when all n bytes were coded (call Finish next); 0 when readByte failed
    // (blocks already delivered stay delivered) or chunkSize is 0.
    int Compress(uint32_t n, LzwReadByte readByte, LzwWriteBlock writeBlock, void* context, uint32_t chunkSize,
                 LzwProgress progress = nullptr, void* progressContext = nullptr);

    // Writes the end code, delivers the rest of the stream in one block (at most
    // chunk size + 5 bytes) and frees the dictionary and buffer. Does nothing
    // unless a Compress succeeded since the last Finish.
    void Finish(LzwWriteBlock writeBlock, void* context);

    // Bytes delivered so far; after Finish, the length of the whole stream.
    uint32_t GetCompressedSize() const { return delivered_; }

private:
    friend int LzwEncodeBuffer(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out);
    friend int LzwEncodeBuffer(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out, LzwPiece piece,
                               uint64_t* bitLength);
    // The codes of n bytes at in, as piece places them, into *out (replaced,
    // the last byte padded with 0 bits); the result is their number of bits.
    // A whole stream is the stream Compress and Finish give, without the
    // callbacks. Leaves no stream open.
    uint64_t CompressToVector(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out, LzwPiece piece);
    // An empty dictionary: only the single bytes, N = 258.
    void StartDictionary();

    uint16_t codeLimit_ = 4096;
    // Dictionary: (prefix code, byte) -> code; N is nextCode_.
    std::unique_ptr<LzwEncodeTable> table_;
    uint32_t nextCode_ = 0;
    // Output bit buffer of chunk + 8 bytes.
    uint8_t* buffer_ = nullptr;
    uint32_t bitCount_ = 0;
    uint32_t bufferCapacity_ = 0;
    uint32_t delivered_ = 0;
    // The code of the longest match so far, kept between Compress and Finish.
    uint32_t current_ = 0;
    // A Compress succeeded and its Finish is still due.
    bool streamOpen_ = false;
};

// Encodes n bytes at in into *out (replaced), the same stream LzwEncoder gives
// (with any chunk size), without the per-byte callbacks. Memory besides *out:
// the dictionary and 12 KB of stack. 1 on success.
int LzwEncodeBuffer(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out);

// A coder of pieces: the piece form of LzwEncodeBuffer below, or one of the same shape.
using LzwPieceEncoder = int (*)(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out, LzwPiece piece,
                                uint64_t* bitLength);

// Codes one piece of a split stream: n bytes at in as piece places them, into
// *out (replaced); *bitLength receives the number of bits, of which the last
// byte holds 1 to 8 (the rest are 0). LzwPiece{true, true} gives the bits of
// the whole stream that LzwEncodeBuffer above gives. Pieces are independent
// of each other, so they may be coded at the same time; LzwBitJoiner puts
// their bits together in order. 1 on success.
int LzwEncodeBuffer(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out, LzwPiece piece, uint64_t* bitLength);

// The piece form of LzwEncodeBuffer for n copies of value, worked out without
// the input or a dictionary: the same bits as coding such a buffer.
int LzwEncodeRun(uint8_t value, uint32_t n, std::vector<uint8_t>* out, LzwPiece piece, uint64_t* bitLength);
