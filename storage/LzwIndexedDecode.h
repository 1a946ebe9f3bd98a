// Decoding a split LZW stream on several threads, from where an index says its pieces start.
#pragma once

#include <cstdint>

#include "LzwCodec.h"

class ProgressHook;

// Pieces decoded into memory of their own at most this long; a longer piece
// (a run of one byte value coded as one piece) is decoded on the caller's
// thread, straight to the sink.
constexpr uint32_t kLzwMaxBufferedPiece = 16u << 20;

// Decodes the whole stream in (inLength bytes) exactly as LzwDecodePieces
// does, with the same result, *produced, sink calls and progress, whatever
// pieces holds: the pieces it names are decoded on up to threads threads at
// once (each checked to end where the next starts and to decode to its
// length) and handed to sink in order, on the caller's thread. From the first
// piece that does not check, and for pieces that cannot describe the stream
// (none or one, out of order, not starting at bit 0, past its end), the
// stream is decoded one code after the other. Memory: at most threads + 1
// pieces decoded ahead of the sink. threads 0 or 1: decoded on the caller's thread alone.
// Threads an indexed decode uses: one per processor, at most 8 (each holds
// a piece of up to 4 MiB, and a 32-bit process must afford them).
unsigned LzwDecodeThreads();

int LzwDecodeIndexed(const uint8_t* in, uint32_t inLength, const LzwPieceBounds* pieces, uint32_t count,
                     unsigned threads, LzwPieceSink sink, void* context, uint32_t* produced,
                     ProgressHook* progress = nullptr);
