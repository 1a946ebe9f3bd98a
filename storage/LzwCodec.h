// Variable-width LZW codec of compressed container entries: 9..12-bit codes, MSB first.
//
// Stream: clear code (256) in 9 bits, data codes, a clear code in 12 bits
// wherever the dictionary was reset (when the next free code reaches 4093), the
// end code (257) in w(N + 1) bits, then 0..7 padding bits. A data code is
// written in w(N) bits, N being the encoder's next free code; w(n) is the bit
// length of n but at least 9. The stream carries no header and no length.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class ProgressHook;

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

struct LzwEncodeTable;
struct LzwDecodeTable;

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

// The piece form of LzwEncodeBuffer for n copies of value, worked out without
// the input or a dictionary: the same bits as coding such a buffer.
int LzwEncodeRun(uint8_t value, uint32_t n, std::vector<uint8_t>* out, LzwPiece piece, uint64_t* bitLength);

// Decodes the bits of one piece (as the piece form of LzwEncodeBuffer gives
// them) into out, as LzwDecodeBuffer above decodes a whole stream: 1 when they
// make a well-formed piece, *produced the bytes they decode to.
int LzwDecodeBuffer(const uint8_t* bits, uint64_t bitLength, LzwPiece piece, uint8_t* out, uint32_t outCapacity,
                    uint32_t* produced);

// Decodes the bits of one piece as LzwDecodePieces decodes a whole stream,
// handing the output to sink in pieces: 1 when they make a well-formed piece.
int LzwDecodePieces(const uint8_t* bits, uint64_t bitLength, LzwPiece piece, LzwPieceSink sink, void* context,
                    uint32_t* produced);

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

// Puts bit strings (MSB first) together, each starting at the bit where the
// one before ended, and hands on whole bytes.
class LzwBitJoiner {
public:
    // Appends bitLength bits from bits; the whole bytes they complete go to the end of *out.
    void Append(const uint8_t* bits, uint64_t bitLength, std::vector<uint8_t>* out);
    // The last, partial byte (0 bits after the joined ones) to the end of *out, if there is one.
    void Finish(std::vector<uint8_t>* out);
    // Bits appended so far.
    uint64_t BitCount() const { return bitCount_; }

private:
    uint8_t pending_ = 0;
    uint32_t pendingBits_ = 0;
    uint64_t bitCount_ = 0;
};
