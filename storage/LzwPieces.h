// Split LZW streams: coding a stream in pieces of input, decoding the bits of one piece.
#pragma once

#include <cstdint>
#include <vector>

#include "LzwDecoder.h"
#include "LzwStream.h"

// One piece of a split stream as an index records it: the bit its codes
// start at (0 for the first; for any other, the bit just after the clear code
// that ends the piece before it) and the bytes it decodes to.
struct LzwPieceBounds {
    uint64_t startBit;
    uint32_t length;
};

// The whole stream of n bytes at in split at every pieceSize bytes of input,
// coded one piece after the other, into *out (replaced). A piece that repeats
// the one byte of the piece before it, itself a run of that byte, is not
// split from it: a long run of one byte value (zero padding)
// is coded as one piece, since restarting the dictionary would cost it a
// third of its short stream. The same stream as LzwEncodeBuffer when
// n <= pieceSize or pieceSize is 0. bounds (when given) receives where each
// piece starts and what it decodes to (one piece for an unsplit stream).
// 1 on success.
int LzwEncodeBuffer(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out, uint32_t pieceSize,
                    std::vector<LzwPieceBounds>* bounds = nullptr);

// Whether n bytes at in are all the same (n > 0).
bool LzwIsRun(const uint8_t* in, uint32_t n);

// Decodes the bits of one piece (as the piece form of LzwEncodeBuffer gives
// them) into out, as LzwDecodeBuffer decodes a whole stream: 1 when they
// make a well-formed piece, *produced the bytes they decode to.
int LzwDecodeBuffer(const uint8_t* bits, uint64_t bitLength, LzwPiece piece, uint8_t* out, uint32_t outCapacity,
                    uint32_t* produced);

// Decodes the bits of one piece as LzwDecodePieces decodes a whole stream,
// handing the output to sink in pieces: 1 when they make a well-formed piece.
int LzwDecodePieces(const uint8_t* bits, uint64_t bitLength, LzwPiece piece, LzwPieceSink sink, void* context,
                    uint32_t* produced);
