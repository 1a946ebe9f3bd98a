// LZW decoder: prefix-chain table, output through callbacks, into a buffer or in pieces.
#pragma once

#include <cstdint>

#include "LzwStream.h"

class ProgressHook;

struct LzwDecodeTable;

class LzwDecoder {
public:
    LzwDecoder();
    ~LzwDecoder();
    LzwDecoder(const LzwDecoder&) = delete;
    LzwDecoder& operator=(const LzwDecoder&) = delete;

    // Pulls up to compressedLength bytes through readBlock in blocks of at most
    // chunkSize (low 16 bits), refilling when fewer than 5 bytes are buffered,
    // and pushes the decoded bytes through writeByte. expectedLength only feeds
    // progress, called with (0, expected) first and (expected, expected) last.
    // 1 when the stream ended at its end code having requested exactly
    // compressedLength bytes. 0 for any fault: chunk size 0, a code that names
    // no string yet, a dictionary that would outgrow 4096 codes, input that runs
    // out before the end code, or an end code met before all input was
    // requested. Decoding stops at the first fault; the table and buffers are
    // never read or written outside their bounds.
    int Decompress(uint32_t compressedLength, LzwReadBlock readBlock, LzwWriteByte writeByte, void* context,
                   uint32_t chunkSize, uint32_t expectedLength, LzwProgress progress = nullptr,
                   void* progressContext = nullptr);

    // Bytes pushed by the last Decompress.
    uint32_t GetOutputLength() const { return output_; }

private:
    LzwDecodeTable* table_;
    uint32_t output_ = 0;
};

// Decodes a whole stream held in memory into out. *produced receives the number
// of bytes the stream decodes to (also when that exceeds outCapacity; only the
// first outCapacity bytes are stored), up to the first fault. The result is
// that of LzwDecoder::Decompress on the same bytes with chunk kLzwChunkSize:
// 1 for a well-formed stream, 0 for any fault or an output above 4 GB.
// Callers treat *produced != expected length as corrupt.
int LzwDecodeBuffer(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outCapacity,
                    uint32_t* produced);

// Receives one piece of decoded output; false stops the decoding.
using LzwPieceSink = bool (*)(const uint8_t* data, uint32_t length, void* context);

// Pieces of the streaming decode: at most this many bytes each.
constexpr uint32_t kLzwPieceSize = 64 * 1024;

// Decodes a whole stream held in memory and hands the output to sink in
// pieces of at most kLzwPieceSize bytes, in order, so that memory does not
// grow with the output. sink may be null (the stream is only checked and
// counted). *produced (when given) receives the number of bytes decoded up to
// the first fault. 1 for a well-formed stream (as LzwDecodeBuffer), 0 for any
// fault, an output above 4 GB, or a sink that returned false (the pieces
// before it were delivered). progress (when given) is told the length of
// every piece once it has been delivered (or, without a sink, decoded).
int LzwDecodePieces(const uint8_t* in, uint32_t inLength, LzwPieceSink sink, void* context, uint32_t* produced,
                    ProgressHook* progress = nullptr);

// The piece of a split stream (in, inLength bytes) that starts at bit
// startBit, at 0 or just after a clear code, decoded with an empty
// dictionary, as the whole stream's decoder decodes it there. A piece that is
// not last must end with a clear code exactly at endBit; the last must end
// with the end code, and endBit be the stream's end (8 * inLength), the
// stream then ending as LzwDecodeBuffer requires. No fault on the way.
// The output goes to sink in pieces of at most kLzwPieceSize (null: only
// counted), *produced (when given) receives the bytes decoded; 1 when the
// codes make such a piece, 0 also when sink refused. Never reads outside
// [in, in + inLength).
int LzwDecodeSpanPieces(const uint8_t* in, uint32_t inLength, uint64_t startBit, uint64_t endBit, bool last,
                        LzwPieceSink sink, void* context, uint32_t* produced);
