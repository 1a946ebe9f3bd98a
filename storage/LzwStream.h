// The variable-width LZW stream of compressed container entries: 9..12-bit codes, MSB first.
//
// Stream: clear code (256) in 9 bits, data codes, a clear code in 12 bits
// wherever the dictionary was reset (when the next free code reaches 4093), the
// end code (257) in w(N + 1) bits, then 0..7 padding bits. A data code is
// written in w(N) bits, N being the encoder's next free code; w(n) is the bit
// length of n but at least 9. The stream carries no header and no length.
#pragma once

#include <cstdint>

// Callbacks, plain functions with a user context pointer.
// read-byte: fills *byte; non-zero when a byte was delivered, 0 on failure.
using LzwReadByte = int (*)(uint8_t* byte, void* context);
// write-block: receives length bytes at data; the result is ignored.
using LzwWriteBlock = int (*)(const uint8_t* data, uint32_t length, void* context);
// read-block: fills buffer with count bytes; the result is ignored.
using LzwReadBlock = int (*)(uint8_t* buffer, uint32_t count, void* context);
// write-byte: receives one output byte; the result is ignored.
using LzwWriteByte = int (*)(uint8_t value, void* context);
// progress: bytes done out of bytes in all.
using LzwProgress = void (*)(uint32_t done, uint32_t total, void* context);

// The chunk size the system uses for both directions.
constexpr uint32_t kLzwChunkSize = 1024;

// Where a piece of input stands in a stream split at input boundaries. Each
// piece is coded from an empty dictionary; the first opens the stream with a
// 9-bit clear code, the last closes it with the end code, and every other
// piece ends with a clear code written, like the end code, in the width the
// decoder reads its next code in (w(N + 1)), not in 12 bits. Any decoder of
// the stream reads such a clear as a dictionary reset.
struct LzwPiece {
    bool first;
    bool last;
};
