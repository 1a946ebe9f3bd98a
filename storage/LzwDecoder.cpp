// LZW decoder: prefix-chain table, one decoding loop over callback, memory, buffer and piece ends.
#include "LzwDecoder.h"

#include <cstring>
#include <memory>

#include "LzwCodecInternal.h"
#include "ProgressHook.h"

// The string table as prefix chains: code c stands for the string of
// prefix[c] followed by suffix[c]. Codes below 256 are single bytes; a code
// from 258 up holds a string exactly when it is below the next free code.
struct LzwDecodeTable {
    uint16_t prefix[kTableSize];
    uint8_t suffix[kTableSize];
    uint8_t first[kTableSize];
    uint16_t length[kTableSize];
    // Buffer decoding only: where the code's string was last written out.
    uint32_t offset[kTableSize];

    LzwDecodeTable()
    {
        std::memset(this, 0, sizeof(*this));
        for (uint32_t b = 0; b < 256; ++b) {
            suffix[b] = static_cast<uint8_t>(b);
            first[b] = static_cast<uint8_t>(b);
            length[b] = 1;
        }
    }

    // Defines code as the string of previous followed by byte.
    void Define(uint32_t code, uint32_t previous, uint8_t byte)
    {
        prefix[code] = static_cast<uint16_t>(previous);
        suffix[code] = byte;
        first[code] = first[previous];
        length[code] = static_cast<uint16_t>(length[previous] + 1);
    }

    // Writes the string of code c backwards so that it ends just before end.
    // The caller guarantees length[c] bytes of room before end.
    void Spell(uint32_t c, uint8_t* end) const
    {
        while (c >= 256) {
            *--end = suffix[c];
            c = prefix[c];
        }
        *--end = static_cast<uint8_t>(c);
    }
};

namespace {

// Input bytes kept buffered before a code is read: enough for any 12-bit code.
constexpr uint32_t kRefillThreshold = 5;

// The code of width bits (12 at most) that starts at bit position of bytes,
// of which filled are valid. Three bytes hold any such code; missing ones
// beyond the valid bytes read as zero and are never among the code's own bits.
inline uint32_t CodeAt(const uint8_t* bytes, uint64_t filled, uint64_t position, uint32_t width)
{
    uint64_t byteIndex = position >> 3;
    uint32_t used = static_cast<uint32_t>(position & 7);
    uint32_t window = static_cast<uint32_t>(bytes[byteIndex]) << 16;
    if (byteIndex + 1 < filled)
        window |= static_cast<uint32_t>(bytes[byteIndex + 1]) << 8;
    if (byteIndex + 2 < filled)
        window |= bytes[byteIndex + 2];
    return (window >> (24 - used - width)) & ((1u << width) - 1);
}

// Bits from a stream held whole in memory. The callback reader takes input in
// chunks, refilling whenever fewer than 33 bits wait; this source reads the
// bytes in place and works out afterwards how much that reader would have
// taken, so that both agree on how much was consumed at the end.
//
// A source may also start at a bit after a clear code (where a decoder with an
// empty dictionary reads what the stream's decoder reads after the clear) and
// end at a bit short of the stream's end: reading past that bit fails, as
// running out of input does.
class MemoryBitSource {
public:
    MemoryBitSource(const uint8_t* data, uint32_t length, uint32_t chunk)
        : MemoryBitSource(data, length, chunk, 0, uint64_t{length} * 8)
    {}
    // startBit <= endBit <= 8 * length.
    MemoryBitSource(const uint8_t* data, uint32_t length, uint32_t chunk, uint64_t startBit, uint64_t endBit)
        : data_(data), length_(length), bitLength_(endBit), chunk_(chunk), position_(startBit)
    {}

    bool ReadCode(uint32_t width, uint32_t* code)
    {
        // The callback reader has all bytes by the time fewer than width bits
        // are left, so running short means the same to both.
        if (bitLength_ - position_ < width)
            return false;
        lastRead_ = position_;
        read_ = true;
        const uint64_t byteIndex = position_ >> 3;
        const uint32_t used = static_cast<uint32_t>(position_ & 7);
        if (byteIndex + 4 <= length_) {
            const uint8_t* at = data_ + byteIndex;
            const uint32_t window = static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
                                    static_cast<uint32_t>(at[2]) << 8 | at[3];
            *code = (window >> (32 - used - width)) & ((1u << width) - 1);
        } else {
            *code = CodeAt(data_, length_, position_, width);
        }
        lastCode_ = *code;
        position_ += width;
        return true;
    }

    // Whether the codes read so far end with a clear code exactly at the end bit.
    bool EndsWithClear() const { return read_ && position_ == bitLength_ && lastCode_ == kClearCode; }

    // What the callback reader would have taken when the last code was read:
    // whole chunks until 33 bits were waiting at its start, at most everything.
    uint32_t Consumed() const
    {
        if (!read_)
            return 0;
        const uint64_t needed = (lastRead_ + 8 * kRefillThreshold - 7 + 7) / 8;
        const uint64_t chunks = (needed + chunk_ - 1) / chunk_ * chunk_;
        return chunks < length_ ? static_cast<uint32_t>(chunks) : length_;
    }

private:
    const uint8_t* data_;
    uint32_t length_;
    uint64_t bitLength_;
    uint32_t chunk_;
    uint64_t position_ = 0;
    uint64_t lastRead_ = 0;
    uint32_t lastCode_ = 0;
    bool read_ = false;
};

// Bits pulled through the read-block callback into a buffer of chunk + 20 bytes.
class CallbackBitSource {
public:
    CallbackBitSource(uint32_t length, uint32_t chunk, LzwReadBlock readBlock, void* context)
        : length_(length), chunk_(chunk), readBlock_(readBlock), context_(context),
          buffer_(new uint8_t[chunk + 20]())
    {}

    bool ReadCode(uint32_t width, uint32_t* code)
    {
        // A loop, not one refill: chunks below 2 bytes could not supply a code otherwise.
        while ((bitsFilled_ - bitsRead_ + 7) / 8 < kRefillThreshold && consumed_ < length_)
            Refill();
        if (bitsFilled_ - bitsRead_ < width)
            return false;
        *code = CodeAt(buffer_.get(), bitsFilled_ >> 3, bitsRead_, width);
        bitsRead_ += width;
        return true;
    }

    uint32_t Consumed() const { return consumed_; }

private:
    void Refill()
    {
        uint32_t k = length_ - consumed_;
        if (k > chunk_)
            k = chunk_;
        if (k == 0)
            return;
        Compact();
        // Fewer than 5 bytes remain after compaction, so k more always fit in chunk + 20.
        uint32_t at = bitsFilled_ >> 3;
        readBlock_(buffer_.get() + at, k, context_);
        bitsFilled_ += 8 * k;
        consumed_ += k;
    }

    void Compact()
    {
        if (bitsRead_ < 8)
            return;
        if (bitsRead_ >= bitsFilled_) {
            bitsRead_ = bitsFilled_ = 0;
            return;
        }
        uint32_t drop = bitsRead_ >> 3;
        std::memmove(buffer_.get(), buffer_.get() + drop, (bitsFilled_ >> 3) - drop);
        bitsRead_ &= 7;
        bitsFilled_ -= 8 * drop;
    }

    uint32_t length_;
    uint32_t chunk_;
    LzwReadBlock readBlock_;
    void* context_;
    std::unique_ptr<uint8_t[]> buffer_;
    uint32_t bitsFilled_ = 0;
    uint32_t bitsRead_ = 0;
    uint32_t consumed_ = 0;
};

// Output through the write-byte callback, one string at a time via a scratch buffer.
class CallbackSink {
public:
    CallbackSink(const LzwDecodeTable& table, LzwWriteByte writeByte, void* context)
        : table_(table), writeByte_(writeByte), context_(context)
    {}

    void Defined(uint32_t) {}

    bool Emit(uint32_t c)
    {
        if (c < 256) {
            writeByte_(static_cast<uint8_t>(c), context_);
            ++output_;
            return true;
        }
        uint32_t length = table_.length[c];
        table_.Spell(c, scratch_ + length);
        for (uint32_t i = 0; i < length; ++i)
            writeByte_(scratch_[i], context_);
        output_ += length;
        return true;
    }

    uint32_t Output() const { return output_; }

private:
    const LzwDecodeTable& table_;
    LzwWriteByte writeByte_;
    void* context_;
    uint32_t output_ = 0;
    uint8_t scratch_[kTableSize];
};

// Output straight into a flat buffer. While everything fits, a string is
// copied from where its code's string was last written; once the output
// passes the capacity, the rest is only counted.
class BufferSink {
public:
    BufferSink(LzwDecodeTable& table, uint8_t* out, uint32_t capacity) : table_(table), out_(out), capacity_(capacity)
    {}

    // Code c was just defined as the previous string plus one byte: that
    // string starts where the previous code was written.
    void Defined(uint32_t c) { table_.offset[c] = lastOffset_; }

    bool Emit(uint32_t c)
    {
        uint32_t length = table_.length[c];
        if (clipped_) {
            produced_ += length;
            return produced_ <= UINT32_MAX;
        }
        uint32_t at = static_cast<uint32_t>(produced_);
        if (length <= capacity_ - at) {
            uint8_t* dest = out_ + at;
            if (c < 256) {
                *dest = static_cast<uint8_t>(c);
            } else {
                // All but the last byte lie in output already written (for a
                // code naming its own definition, the last one does not yet).
                const uint8_t* source = out_ + table_.offset[c];
                uint32_t head = length - 1;
                if (head <= 16) {
                    for (uint32_t i = 0; i < head; ++i)
                        dest[i] = source[i];
                } else {
                    std::memcpy(dest, source, head);
                }
                dest[head] = table_.suffix[c];
            }
        } else {
            uint8_t scratch[kTableSize];
            table_.Spell(c, scratch + length);
            if (capacity_ > at)
                std::memcpy(out_ + at, scratch, capacity_ - at);
            clipped_ = true;
        }
        lastOffset_ = at;
        produced_ += length;
        return true;
    }

    uint64_t Produced() const { return produced_; }

private:
    LzwDecodeTable& table_;
    uint8_t* out_;
    uint32_t capacity_;
    uint64_t produced_ = 0;
    uint32_t lastOffset_ = 0;
    bool clipped_ = false;
};

// Bytes a short string copy moves at once.
constexpr uint32_t kOvercopy = 16;

// Output gathered into a fixed window and handed on in pieces. A string whose
// code was last written inside the window is copied from there, as in
// BufferSink; an older one is spelled from the table.
class PieceSink {
public:
    PieceSink(LzwDecodeTable& table, LzwPieceSink sink, void* context, ProgressHook* progress)
        : table_(table), sink_(sink), context_(context), progress_(progress),
          window_(new uint8_t[kLzwPieceSize + kTableSize + kOvercopy])
    {}

    void Defined(uint32_t c) { table_.offset[c] = lastOffset_; }

    bool Emit(uint32_t c)
    {
        uint32_t length = table_.length[c];
        if (fill_ + length > kLzwPieceSize && !Flush())
            return false;
        // Offsets are kept modulo 2^32 like the buffer path's; a string counts
        // as inside the window when it starts at or after the window's start.
        uint32_t at = static_cast<uint32_t>(produced_);
        uint8_t* dest = window_.get() + fill_;
        if (c < 256) {
            *dest = static_cast<uint8_t>(c);
        } else {
            uint32_t from = table_.offset[c];
            uint32_t head = length - 1;
            uint32_t back = at - from;
            if (from - windowStart_ < fill_ && back <= fill_ && back >= head) {
                const uint8_t* source = dest - back;
                if (head <= kOvercopy) {
                    // Most strings are short: 16 bytes in two words, whatever
                    // the length, take no branch on it. All loads come first,
                    // as the words may reach into dest; the bytes beyond the
                    // string land in the window's slack and are written over.
                    uint64_t low;
                    uint64_t high;
                    std::memcpy(&low, source, 8);
                    std::memcpy(&high, source + 8, 8);
                    std::memcpy(dest, &low, 8);
                    std::memcpy(dest + 8, &high, 8);
                } else {
                    std::memcpy(dest, source, head);
                }
                dest[head] = table_.suffix[c];
            } else {
                table_.Spell(c, dest + length);
            }
        }
        lastOffset_ = at;
        fill_ += length;
        produced_ += length;
        return produced_ <= UINT32_MAX;
    }

    // Hands the gathered bytes on; false when the sink refused them.
    bool Flush()
    {
        if (fill_ > 0 && sink_ && !sink_(window_.get(), fill_, context_)) {
            refused_ = true;
            return false;
        }
        if (fill_ > 0 && progress_)
            progress_->Advance(fill_);
        windowStart_ = static_cast<uint32_t>(produced_);
        fill_ = 0;
        return true;
    }

    uint64_t Produced() const { return produced_; }
    bool Refused() const { return refused_; }

private:
    LzwDecodeTable& table_;
    LzwPieceSink sink_;
    void* context_;
    ProgressHook* progress_;
    std::unique_ptr<uint8_t[]> window_;
    uint32_t fill_ = 0;
    uint32_t windowStart_ = 0;
    uint64_t produced_ = 0;
    uint32_t lastOffset_ = 0;
    bool refused_ = false;
};

// The decoding loop shared by the callback and buffer paths. Returns true when
// the end code was met, false at the first fault: input exhausted, a code that
// names no string, a definition beyond the table, or output that cannot be counted.
template <class Source, class Sink>
bool DecodeCodes(LzwDecodeTable& table, Source& source, Sink& sink)
{
    uint32_t next = kFirstFreeCode;
    uint32_t previous = kClearCode;
    for (;;) {
        uint32_t c;
        if (!source.ReadCode(CodeWidth(next + 1), &c))
            return false;
        if (c == kEndCode)
            return true;
        if (c == kClearCode) {
            next = kFirstFreeCode;
            previous = kClearCode;
            if (!source.ReadCode(9, &c))
                return false;
            if (c == kEndCode)
                return true;
            // A second clear code outputs nothing; the code after it defines nothing.
            if (c == kClearCode)
                continue;
            if (c >= 256)
                return false;
            if (!sink.Emit(c))
                return false;
            previous = c;
            continue;
        }
        if (c < 256 || (c >= kFirstFreeCode && c < next)) {
            if (previous != kClearCode) {
                if (next >= kTableSize)
                    return false;
                table.Define(next, previous, table.first[c]);
                sink.Defined(next);
                ++next;
            }
            if (!sink.Emit(c))
                return false;
        } else if (c == next && previous != kClearCode) {
            // The code names its own definition: previous string plus its first byte.
            table.Define(next, previous, table.first[previous]);
            sink.Defined(next);
            ++next;
            if (!sink.Emit(c))
                return false;
        } else {
            return false;
        }
        previous = c;
    }
}

}  // namespace

LzwDecoder::LzwDecoder() : table_(new LzwDecodeTable) {}

LzwDecoder::~LzwDecoder() { delete table_; }

int LzwDecoder::Decompress(uint32_t compressedLength, LzwReadBlock readBlock, LzwWriteByte writeByte, void* context,
                           uint32_t chunkSize, uint32_t expectedLength, LzwProgress progress, void* progressContext)
{
    output_ = 0;
    uint32_t chunk = chunkSize & 0xFFFF;
    if (chunk == 0)
        return 0;
    if (progress)
        progress(0, expectedLength, progressContext);
    CallbackBitSource source(compressedLength, chunk, readBlock, context);
    std::unique_ptr<CallbackSink> sink(new CallbackSink(*table_, writeByte, context));
    bool ended = DecodeCodes(*table_, source, *sink);
    output_ = sink->Output();
    if (progress)
        progress(expectedLength, expectedLength, progressContext);
    return ended && source.Consumed() == compressedLength ? 1 : 0;
}

int LzwDecodeBuffer(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outCapacity, uint32_t* produced)
{
    std::unique_ptr<LzwDecodeTable> table(new LzwDecodeTable);
    MemoryBitSource source(in, inLength, kLzwChunkSize);
    BufferSink sink(*table, out, outCapacity);
    bool ended = DecodeCodes(*table, source, sink);
    uint64_t total = sink.Produced();
    if (produced)
        *produced = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
    return ended && total <= UINT32_MAX && source.Consumed() == inLength ? 1 : 0;
}

int LzwDecodePieces(const uint8_t* in, uint32_t inLength, LzwPieceSink sink, void* context, uint32_t* produced,
                    ProgressHook* progress)
{
    std::unique_ptr<LzwDecodeTable> table(new LzwDecodeTable);
    MemoryBitSource source(in, inLength, kLzwChunkSize);
    PieceSink pieces(*table, sink, context, progress);
    bool ended = DecodeCodes(*table, source, pieces);
    // What was decoded before a fault is still delivered; the result says it is not the file.
    bool flushed = !pieces.Refused() && pieces.Flush();
    uint64_t total = pieces.Produced();
    if (produced)
        *produced = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
    return ended && flushed && total <= UINT32_MAX && source.Consumed() == inLength ? 1 : 0;
}

namespace {

// Whether the codes from startBit make the piece that ends at endBit: with a
// clear code read exactly there (a piece that is not the last), or with the
// end code and the stream's end as the whole stream's decoder takes it (the
// last, endBit at the stream's end); no fault on the way.
template <class Sink>
bool DecodeSpan(LzwDecodeTable& table, const uint8_t* in, uint32_t inLength, uint64_t startBit, uint64_t endBit,
                bool last, Sink& sink)
{
    if (startBit > endBit || endBit > uint64_t{inLength} * 8 || (last && endBit != uint64_t{inLength} * 8))
        return false;
    MemoryBitSource source(in, inLength, kLzwChunkSize, startBit, endBit);
    const bool ended = DecodeCodes(table, source, sink);
    return last ? ended && source.Consumed() == inLength : !ended && source.EndsWithClear();
}

}  // namespace

int LzwDecodeSpanPieces(const uint8_t* in, uint32_t inLength, uint64_t startBit, uint64_t endBit, bool last,
                        LzwPieceSink sink, void* context, uint32_t* produced)
{
    std::unique_ptr<LzwDecodeTable> table(new LzwDecodeTable);
    PieceSink pieces(*table, sink, context, nullptr);
    const bool whole = DecodeSpan(*table, in, inLength, startBit, endBit, last, pieces);
    const bool flushed = !pieces.Refused() && pieces.Flush();
    const uint64_t total = pieces.Produced();
    if (produced)
        *produced = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
    return whole && flushed && total <= UINT32_MAX ? 1 : 0;
}
