// Variable-width LZW codec: hashed-dictionary encoder with chunked output, prefix-chain decoder.
#include "LzwCodec.h"

#include <cstring>
#include <memory>

#include "ProgressHook.h"

namespace {

constexpr uint32_t kClearCode = 256;
constexpr uint32_t kEndCode = 257;
constexpr uint32_t kFirstFreeCode = 258;
constexpr uint32_t kTableSize = 4096;
// Input bytes kept buffered before a code is read: enough for any 12-bit code.
constexpr uint32_t kRefillThreshold = 5;

// w(n): the bit length of n, never less than 9 (12 for anything wider).
inline uint32_t CodeWidth(uint32_t n)
{
    if (n < 512)
        return 9;
    if (n < 1024)
        return 10;
    if (n < 2048)
        return 11;
    return 12;
}

}  // namespace

// ---------------------------------------------------------------------------
// Encoder

// The encoder's dictionary: (prefix code, byte) -> code, by open addressing
// with linear probing. The 256 single bytes are implicit (code = byte), so only
// codes from 258 up are stored, at most 4093 - 258 between two resets, in 65536
// slots: probes beyond the first are rare. A slot holds a code (0: empty, as no
// stored code is 0); the key it was stored for (prefix << 8 | byte) is kept by
// code, which keeps the slots small and the keys of recent codes together. A
// reset empties only the slots that were filled.
struct LzwEncodeTable {
    static constexpr uint32_t kSlots = 1u << 16;
    uint16_t slots[kSlots];
    // By code. keys[0] belongs to no code: the branch-free loop puts the key
    // it looks for there, so that an empty slot ends its probe like a match.
    uint32_t keys[kTableSize];
    // The slots filled since the last reset, in order.
    uint16_t filled[kTableSize];
    uint32_t filledCount;
    // A 16-bit hash of each byte value.
    uint16_t spread[256];
    // The long-match loop's shortcut: the first string defined by extending
    // each code in the current generation (0: none yet), and its last byte.
    uint16_t firstChild[kTableSize];
    uint8_t firstChildByte[kTableSize];

    LzwEncodeTable()
    {
        std::memset(slots, 0, sizeof(slots));
        filledCount = 0;
        for (uint32_t b = 0; b < 256; ++b)
            spread[b] = static_cast<uint16_t>((b * 0x9E3779B1u) >> 16);
    }

    void Clear()
    {
        for (uint32_t k = 0; k < filledCount; ++k)
            slots[filled[k]] = 0;
        filledCount = 0;
    }

    // The first slot to look at for prefix (below 4096) followed by byte: the
    // byte's hash xor the prefix. Only the xor waits for the previous lookup,
    // and the strings that end in one byte value keep the order of their
    // prefixes inside one 4096-slot block, so that recent prefixes share
    // cache lines.
    uint32_t Home(uint32_t prefix, uint32_t byte) const { return (prefix ^ spread[byte]) & (kSlots - 1); }

    // The code of prefix (below 4096) followed by byte; when there is none yet,
    // that string is given code and 0 is returned.
    uint32_t FindOrAdd(uint32_t prefix, uint32_t byte, uint32_t code)
    {
        uint32_t key = prefix << 8 | byte;
        uint32_t i = Home(prefix, byte);
        for (;;) {
            uint32_t slot = slots[i];
            if (slot == 0) {
                slots[i] = static_cast<uint16_t>(code);
                keys[code] = key;
                filled[filledCount++] = static_cast<uint16_t>(i);
                return 0;
            }
            if (keys[slot] == key)
                return slot;
            i = (i + 1) & (kSlots - 1);
        }
    }
};

namespace {

// Writes a code of width bits at bit position *bitCount of buffer, MSB first.
// The code goes into a 24-bit big-endian window starting at the byte that
// holds the next free bit; bits already written in that byte are kept, the
// bits after the code in its last byte are cleared.
inline void PutCode(uint8_t* buffer, uint32_t* bitCount, uint32_t code, uint32_t width)
{
    uint32_t byteIndex = *bitCount >> 3;
    uint32_t used = *bitCount & 7;
    uint32_t window = code << (24 - used - width);
    uint32_t keepMask = (0xFF00u >> used) & 0xFF;
    buffer[byteIndex] = static_cast<uint8_t>((buffer[byteIndex] & keepMask) | (window >> 16));
    uint32_t bytesTouched = (used + width + 7) >> 3;
    buffer[byteIndex + 1] = static_cast<uint8_t>(window >> 8);
    if (bytesTouched > 2)
        buffer[byteIndex + 2] = static_cast<uint8_t>(window);
    *bitCount += width;
}

// Input through the read-byte callback, with a progress report every 100 bytes.
class CallbackByteSource {
public:
    CallbackByteSource(uint32_t n, LzwReadByte readByte, void* context, LzwProgress progress, void* progressContext)
        : n_(n), readByte_(readByte), context_(context), progress_(progress), progressContext_(progressContext)
    {}

    bool Read(uint8_t* byte) { return readByte_(byte, context_) != 0; }

    // Byte i (never 0) has been coded.
    void Coded(uint32_t i)
    {
        if (progress_ && i % 100 == 0)
            progress_(i, n_, progressContext_);
    }

private:
    uint32_t n_;
    LzwReadByte readByte_;
    void* context_;
    LzwProgress progress_;
    void* progressContext_;
};

// Output into the encoder's chunk + 8 byte buffer: whole chunks go to the
// write-block callback as soon as more than one chunk is pending after a data code.
class ChunkSink {
public:
    ChunkSink(uint8_t* buffer, uint32_t* bitCount, uint32_t* delivered, uint32_t chunk, LzwWriteBlock writeBlock,
              void* context)
        : buffer_(buffer), bitCount_(bitCount), delivered_(delivered), chunk_(chunk), writeBlock_(writeBlock),
          context_(context)
    {}

    void Put(uint32_t code, uint32_t width) { PutCode(buffer_, bitCount_, code, width); }

    void PutData(uint32_t code, uint32_t width)
    {
        Put(code, width);
        // A loop rather than one delivery keeps chunks of 1 or 2 bytes from
        // outgrowing the buffer.
        while ((*bitCount_ + 7) / 8 > chunk_) {
            writeBlock_(buffer_, chunk_, context_);
            *delivered_ += chunk_;
            uint32_t pending = (*bitCount_ + 7) / 8;
            std::memmove(buffer_, buffer_ + chunk_, pending - chunk_);
            *bitCount_ -= 8 * chunk_;
        }
    }

private:
    uint8_t* buffer_;
    uint32_t* bitCount_;
    uint32_t* delivered_;
    uint32_t chunk_;
    LzwWriteBlock writeBlock_;
    void* context_;
};

// Bytes of the staging block of VectorSink: a multiple of 4, as it fills by whole words.
constexpr uint32_t kStageSize = 4096;

void AppendStage(std::vector<uint8_t>* out, const uint8_t* stage, uint32_t length)
{
    out->insert(out->end(), stage, stage + length);
}

// Output appended to a vector: codes gather in a 64-bit word, leave it 32 bits
// at a time into a staging block (outside this object, so that the byte
// stores leave its fields in registers), and the block is appended when full.
// Chunks do not matter here: the vector receives the concatenation of all blocks.
class VectorSink {
public:
    // stage: kStageSize + 4 bytes.
    VectorSink(std::vector<uint8_t>* out, uint8_t* stage) : out_(out), stage_(stage) {}

    void Put(uint32_t code, uint32_t width)
    {
        // Fewer than 32 bits wait in bits_, so a code of 12 more always fits.
        // The word is stored whether or not it is complete and counted only
        // when it is: no branch on the bit count, which follows the data.
        bits_ = bits_ << width | code;
        count_ += width;
        uint32_t full = count_ >> 5;
        count_ -= full << 5;
        uint32_t word = static_cast<uint32_t>(bits_ >> count_);
        uint8_t* at = stage_ + used_;
        at[0] = static_cast<uint8_t>(word >> 24);
        at[1] = static_cast<uint8_t>(word >> 16);
        at[2] = static_cast<uint8_t>(word >> 8);
        at[3] = static_cast<uint8_t>(word);
        used_ += full << 2;
        if (used_ == kStageSize) {
            AppendStage(out_, stage_, used_);
            used_ = 0;
        }
    }

    // Bits put so far.
    uint64_t BitCount() const { return (static_cast<uint64_t>(out_->size()) + used_) * 8 + count_; }

    // The waiting bits, the last byte completed by zero padding, then the block to the vector.
    void Finish()
    {
        while (count_ >= 8) {
            count_ -= 8;
            stage_[used_++] = static_cast<uint8_t>(bits_ >> count_);
        }
        if (count_ > 0)
            stage_[used_++] = static_cast<uint8_t>(bits_ << (8 - count_));
        count_ = 0;
        AppendStage(out_, stage_, used_);
        used_ = 0;
    }

private:
    std::vector<uint8_t>* out_;
    uint8_t* stage_;
    uint64_t bits_ = 0;
    uint32_t count_ = 0;
    uint32_t used_ = 0;
};

// The callback path: codes n input bytes from source into sink, the
// dictionary continuing from *nextCode, and leaves the code of the last match
// in *current (nothing is written for it). Each miss writes the longest match
// in w(N) bits and defines match + byte as N; when N reaches resetAt, a clear
// code follows in w(N) bits and the dictionary starts over. false as soon as
// the source fails.
bool CodeInput(LzwEncodeTable& table, uint32_t n, uint32_t resetAt, CallbackByteSource& source, ChunkSink& sink,
               uint32_t* current, uint32_t* nextCode)
{
    if (n == 0)
        return true;
    uint8_t byte = 0;
    if (!source.Read(&byte))
        return false;
    // Every single byte is in the dictionary, so the first byte always matches.
    uint32_t code = byte;
    uint32_t next = *nextCode;
    bool ok = true;
    for (uint32_t i = 1; i < n; ++i) {
        if (!source.Read(&byte)) {
            ok = false;
            break;
        }
        uint32_t found = table.FindOrAdd(code, byte, next);
        if (found != 0) {
            code = found;
        } else {
            sink.PutData(code, CodeWidth(next));
            ++next;
            if (next >= resetAt) {
                sink.Put(kClearCode, CodeWidth(next));
                table.Clear();
                next = kFirstFreeCode;
            }
            code = byte;
        }
        source.Coded(i);
    }
    *current = code;
    *nextCode = next;
    return ok;
}

// The buffer path codes one dictionary generation at a time: from in[*position]
// on, starting with the match *code and N = 258, until N reaches resetAt or
// the input ends; the result is the number of codes written, *code is left at
// the match in progress. The k-th code of a generation is written with
// N = 258 + k, so in w(258 + k) bits. Two loops do the same work:

// With a branch on whether the byte extends the match, writing each code at
// once: fast when the branch is predictable, as when almost every byte ends a
// match (incompressible data).
uint32_t CodeGenerationBranching(LzwEncodeTable& table, const uint8_t* in, uint32_t n, uint32_t resetAt,
                                 uint32_t* position, uint32_t* code, VectorSink& sink)
{
    uint32_t match = *code;
    uint32_t next = kFirstFreeCode;
    uint32_t i = *position;
    while (i < n) {
        uint32_t byte = in[i++];
        uint32_t found = table.FindOrAdd(match, byte, next);
        if (found != 0) {
            match = found;
            continue;
        }
        sink.Put(match, CodeWidth(next));
        match = byte;
        if (++next >= resetAt)
            break;
    }
    *position = i;
    *code = match;
    return next - kFirstFreeCode;
}

// For generations of long matches (runs, zeros), where nearly every byte
// extends the match and the string it reaches is usually the first one ever
// defined from the match: that string is remembered per code, so the byte
// costs one load from a small array instead of a hash lookup. The dictionary
// and the codes written are those of the other loops.
uint32_t CodeGenerationLongMatches(LzwEncodeTable& table, const uint8_t* in, uint32_t n, uint32_t resetAt,
                                   uint32_t* position, uint32_t* code, VectorSink& sink)
{
    // The generation starts from an empty dictionary: nothing is remembered.
    std::memset(table.firstChild, 0, sizeof(table.firstChild));
    uint32_t match = *code;
    uint32_t next = kFirstFreeCode;
    uint32_t i = *position;
    while (i < n) {
        uint32_t byte = in[i++];
        uint32_t child = table.firstChild[match];
        if (child != 0 && table.firstChildByte[match] == byte) {
            match = child;
            continue;
        }
        uint32_t found = table.FindOrAdd(match, byte, next);
        if (found != 0) {
            match = found;
            continue;
        }
        if (child == 0) {
            table.firstChild[match] = static_cast<uint16_t>(next);
            table.firstChildByte[match] = static_cast<uint8_t>(byte);
        }
        sink.Put(match, CodeWidth(next));
        match = byte;
        if (++next >= resetAt)
            break;
    }
    *position = i;
    *code = match;
    return next - kFirstFreeCode;
}

// Without that branch: the outcome of each lookup selects the values by
// masks, so nothing is mispredicted where matches and misses alternate
// irregularly (text, program files), but each byte waits for its lookup. The
// codes are gathered in codes (4096 entries) and written after the loop.
uint32_t CodeGenerationBranchFree(LzwEncodeTable& table, const uint8_t* in, uint32_t n, uint32_t resetAt,
                                  uint32_t* position, uint32_t* code, uint16_t* codes)
{
    uint32_t match = *code;
    uint32_t next = kFirstFreeCode;
    uint32_t filledCount = table.filledCount;
    uint32_t i = *position;
    while (i < n && next < resetAt) {
        // N grows by at most one a byte: it cannot reach resetAt within
        // resetAt - N bytes, which the inner loop then need not check.
        uint32_t stop = n - i < resetAt - next ? n : i + (resetAt - next);
        for (; i < stop; ++i) {
            uint32_t byte = in[i];
            uint32_t key = match << 8 | byte;
            uint32_t h = table.Home(match, byte);
            table.keys[0] = key;
            uint32_t slot = table.slots[h];
            while (table.keys[slot] != key) {
                h = (h + 1) & (LzwEncodeTable::kSlots - 1);
                slot = table.slots[h];
            }
            // All ones when the string is new (slot 0), else 0. The stores
            // below are harmless for a match: the slot keeps its code,
            // keys[next] and filled[filledCount] are not in use yet and
            // codes[next - 258] is overwritten by the next miss.
            uint32_t isNew = 0u - ((slot - 1u) >> 31);
            codes[next - kFirstFreeCode] = static_cast<uint16_t>(match);
            table.slots[h] = static_cast<uint16_t>(slot | (next & isNew));
            table.keys[next] = key;
            table.filled[filledCount] = static_cast<uint16_t>(h);
            filledCount -= isNew;
            next -= isNew;
            match = slot | (byte & isNew);
        }
    }
    table.filledCount = filledCount;
    *position = i;
    *code = match;
    return next - kFirstFreeCode;
}

// Whether at least 7 in 8 of the first bytes (up to 1024) repeat the byte before them.
bool OpensWithRun(const uint8_t* in, uint32_t n)
{
    const uint32_t sample = n < 1024 ? n : 1024;
    uint32_t repeats = 0;
    for (uint32_t k = 1; k < sample; ++k)
        repeats += in[k] == in[k - 1];
    return sample > 1 && 8 * repeats >= 7 * (sample - 1);
}

uint32_t CodeGenerationBranchFree(LzwEncodeTable& table, const uint8_t* in, uint32_t n, uint32_t resetAt,
                                  uint32_t* position, uint32_t* code, VectorSink& sink)
{
    uint16_t codes[kTableSize];
    uint32_t count = CodeGenerationBranchFree(table, in, n, resetAt, position, code, codes);
    for (uint32_t k = 0; k < count; ++k)
        sink.Put(codes[k], CodeWidth(kFirstFreeCode + k));
    return count;
}

}  // namespace

LzwEncoder::LzwEncoder() = default;

LzwEncoder::~LzwEncoder() { delete[] buffer_; }

void LzwEncoder::StartDictionary()
{
    if (table_)
        table_->Clear();
    else
        table_.reset(new LzwEncodeTable);
    nextCode_ = kFirstFreeCode;
}

int LzwEncoder::Compress(uint32_t n, LzwReadByte readByte, LzwWriteBlock writeBlock, void* context,
                         uint32_t chunkSize, LzwProgress progress, void* progressContext)
{
    streamOpen_ = false;
    uint32_t chunk = chunkSize & 0xFFFF;
    if (chunk == 0)
        return 0;
    delivered_ = 0;
    StartDictionary();
    delete[] buffer_;
    buffer_ = nullptr;
    // Spare bytes: what can be written between two delivery checks (a clear
    // code and a data code) or after the last one (clear, data and end codes),
    // plus the byte PutCode may touch beyond the code.
    bufferCapacity_ = chunk + 8;
    buffer_ = new uint8_t[bufferCapacity_]();
    bitCount_ = 0;

    ChunkSink sink(buffer_, &bitCount_, &delivered_, chunk, writeBlock, context);
    sink.Put(kClearCode, 9);
    if (progress)
        progress(0, n, progressContext);
    CallbackByteSource source(n, readByte, context, progress, progressContext);
    if (!CodeInput(*table_, n, static_cast<uint32_t>(codeLimit_) - 3, source, sink, &current_, &nextCode_))
        return 0;
    if (n > 0)
        sink.Put(current_, CodeWidth(nextCode_));
    if (progress)
        progress(n, n, progressContext);
    streamOpen_ = true;
    return 1;
}

void LzwEncoder::Finish(LzwWriteBlock writeBlock, void* context)
{
    if (!streamOpen_)
        return;
    streamOpen_ = false;
    PutCode(buffer_, &bitCount_, kEndCode, CodeWidth(nextCode_ + 1));
    uint32_t pending = (bitCount_ + 7) / 8;
    delivered_ += pending;
    writeBlock(buffer_, pending, context);
    table_.reset();
    delete[] buffer_;
    buffer_ = nullptr;
    bitCount_ = 0;
    bufferCapacity_ = 0;
}

uint64_t LzwEncoder::CompressToVector(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out, LzwPiece piece)
{
    out->clear();
    // Room for a stream as long as the input, so that the vector does not
    // move while it fills unless the input does not compress.
    if (out->capacity() < uint64_t{n} + kStageSize)
        out->reserve(static_cast<size_t>(n) + kStageSize);
    streamOpen_ = false;
    StartDictionary();
    uint8_t stage[kStageSize + 4];
    VectorSink sink(out, stage);
    if (piece.first)
        sink.Put(kClearCode, 9);
    if (n > 0) {
        const uint32_t resetAt = static_cast<uint32_t>(codeLimit_) - 3;
        uint32_t position = 1;
        current_ = in[0];
        // The first generation has no predecessor to go by: input that
        // opens with a run takes the long-match loop.
        enum { kBranchFree, kBranching, kLongMatches } loop = OpensWithRun(in, n) ? kLongMatches : kBranchFree;
        while (position < n) {
            uint32_t start = position;
            uint32_t count =
                loop == kBranchFree ? CodeGenerationBranchFree(*table_, in, n, resetAt, &position, &current_, sink)
                : loop == kBranching
                    ? CodeGenerationBranching(*table_, in, n, resetAt, &position, &current_, sink)
                    : CodeGenerationLongMatches(*table_, in, n, resetAt, &position, &current_, sink);
            nextCode_ = kFirstFreeCode + count;
            if (nextCode_ >= resetAt) {
                sink.Put(kClearCode, CodeWidth(nextCode_));
                table_->Clear();
                nextCode_ = kFirstFreeCode;
            }
            // The next generation takes the loop that suits this one: the
            // branching loop where matches were mostly single bytes, the
            // long-match loop where they averaged 16 bytes or more.
            const uint64_t coded = position - start;
            loop = coded < 2ull * count ? kBranching : coded >= 16ull * count ? kLongMatches : kBranchFree;
        }
        sink.Put(current_, CodeWidth(nextCode_));
    }
    // The end code, or the clear that ends a piece, goes in the width the
    // decoder reads its next code in.
    sink.Put(piece.last ? kEndCode : kClearCode, CodeWidth(nextCode_ + 1));
    const uint64_t bits = sink.BitCount();
    sink.Finish();
    delivered_ = static_cast<uint32_t>(out->size());
    return bits;
}

// ---------------------------------------------------------------------------
// Decoder

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
                table.prefix[next] = static_cast<uint16_t>(previous);
                table.suffix[next] = table.first[c];
                table.first[next] = table.first[previous];
                table.length[next] = static_cast<uint16_t>(table.length[previous] + 1);
                sink.Defined(next);
                ++next;
            }
            if (!sink.Emit(c))
                return false;
        } else if (c == next && previous != kClearCode) {
            // The code names its own definition: previous string plus its first byte.
            table.prefix[next] = static_cast<uint16_t>(previous);
            table.suffix[next] = table.first[previous];
            table.first[next] = table.first[previous];
            table.length[next] = static_cast<uint16_t>(table.length[previous] + 1);
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

int LzwEncodeBuffer(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out)
{
    LzwEncoder encoder;
    encoder.CompressToVector(in, n, out, LzwPiece{true, true});
    return 1;
}

int LzwEncodeBuffer(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out, LzwPiece piece, uint64_t* bitLength)
{
    LzwEncoder encoder;
    *bitLength = encoder.CompressToVector(in, n, out, piece);
    return 1;
}

bool LzwIsRun(const uint8_t* in, uint32_t n)
{
    return n > 0 && (n == 1 || std::memcmp(in, in + 1, n - 1) == 0);
}

namespace {

// Whether a split stream codes piece together with the piece before it: both
// are runs of the same byte.
bool JoinsRun(const uint8_t* before, uint32_t beforeLength, const uint8_t* piece, uint32_t length)
{
    return LzwIsRun(before, beforeLength) && LzwIsRun(piece, length) && before[0] == piece[0];
}

}  // namespace

int LzwEncodeBuffer(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out, uint32_t pieceSize,
                    std::vector<LzwPieceBounds>* bounds)
{
    if (bounds)
        bounds->clear();
    if (pieceSize == 0 || n <= pieceSize) {
        if (bounds)
            bounds->push_back(LzwPieceBounds{0, n});
        return LzwEncodeBuffer(in, n, out);
    }
    out->clear();
    LzwBitJoiner joiner;
    std::vector<uint8_t> bits;
    uint64_t at = 0;
    while (at < n) {
        // A piece, and the pieces after it as long as each repeats the byte of a run before it.
        uint64_t end = at + pieceSize < n ? at + pieceSize : n;
        while (end < n) {
            const uint32_t next = static_cast<uint32_t>(n - end < pieceSize ? n - end : pieceSize);
            if (!JoinsRun(in + end - pieceSize, pieceSize, in + end, next))
                break;
            end += next;
        }
        uint64_t bitLength = 0;
        LzwEncodeBuffer(in + at, static_cast<uint32_t>(end - at), &bits, LzwPiece{at == 0, end == n}, &bitLength);
        if (bounds)
            bounds->push_back(LzwPieceBounds{joiner.BitCount(), static_cast<uint32_t>(end - at)});
        joiner.Append(bits.data(), bitLength, out);
        at = end;
    }
    joiner.Finish(out);
    return 1;
}

int LzwEncodeRun(uint8_t value, uint32_t n, std::vector<uint8_t>* out, LzwPiece piece, uint64_t* bitLength)
{
    out->clear();
    uint8_t stage[kStageSize + 4];
    VectorSink sink(out, stage);
    if (piece.first)
        sink.Put(kClearCode, 9);
    uint32_t next = kFirstFreeCode;
    if (n > 0) {
        // With one byte value, the k-th code of a generation (from 0) is the
        // string of k + 1 bytes: the match opens with one byte, grows by the
        // k bytes whose strings the generation has defined, and the byte after
        // it misses. That string is the byte itself for k = 0, else code 257 + k.
        const uint32_t resetAt = kTableSize - 3;
        uint64_t left = n - 1;
        uint32_t length = 1;
        for (;;) {
            const uint32_t k = next - kFirstFreeCode;
            if (left < k + 1) {
                length = static_cast<uint32_t>(1 + left);
                break;
            }
            left -= k + 1;
            sink.Put(k == 0 ? value : kFirstFreeCode + k - 1, CodeWidth(next));
            if (++next >= resetAt) {
                sink.Put(kClearCode, CodeWidth(next));
                next = kFirstFreeCode;
            }
        }
        sink.Put(length == 1 ? value : kFirstFreeCode + length - 2, CodeWidth(next));
    }
    sink.Put(piece.last ? kEndCode : kClearCode, CodeWidth(next + 1));
    *bitLength = sink.BitCount();
    sink.Finish();
    return 1;
}

namespace {

// The bits of one piece made into a whole stream: a clear code in front of any
// but the first, an end code (read after a clear, so in 9 bits) behind any but
// the last. false when that stream would not fit 4 GB.
bool StreamOfPiece(const uint8_t* bits, uint64_t bitLength, LzwPiece piece, std::vector<uint8_t>* stream)
{
    static const uint8_t kOpen[2] = {0x80, 0x00};
    static const uint8_t kClose[2] = {0x80, 0x80};
    stream->clear();
    stream->reserve(static_cast<size_t>(bitLength / 8) + 4);
    LzwBitJoiner joiner;
    if (!piece.first)
        joiner.Append(kOpen, 9, stream);
    joiner.Append(bits, bitLength, stream);
    if (!piece.last)
        joiner.Append(kClose, 9, stream);
    joiner.Finish(stream);
    return stream->size() <= UINT32_MAX;
}

}  // namespace

int LzwDecodeBuffer(const uint8_t* bits, uint64_t bitLength, LzwPiece piece, uint8_t* out, uint32_t outCapacity,
                    uint32_t* produced)
{
    std::vector<uint8_t> stream;
    if (!StreamOfPiece(bits, bitLength, piece, &stream)) {
        *produced = 0;
        return 0;
    }
    return LzwDecodeBuffer(stream.data(), static_cast<uint32_t>(stream.size()), out, outCapacity, produced);
}

int LzwDecodePieces(const uint8_t* bits, uint64_t bitLength, LzwPiece piece, LzwPieceSink sink, void* context,
                    uint32_t* produced)
{
    std::vector<uint8_t> stream;
    if (!StreamOfPiece(bits, bitLength, piece, &stream)) {
        if (produced)
            *produced = 0;
        return 0;
    }
    return LzwDecodePieces(stream.data(), static_cast<uint32_t>(stream.size()), sink, context, produced);
}

void LzwBitJoiner::Append(const uint8_t* bits, uint64_t bitLength, std::vector<uint8_t>* out)
{
    const uint64_t whole = bitLength / 8;
    const uint32_t rest = static_cast<uint32_t>(bitLength % 8);
    if (pendingBits_ == 0) {
        out->insert(out->end(), bits, bits + whole);
    } else {
        // Each byte completes the pending one and leaves its low bits pending.
        const uint32_t shift = pendingBits_;
        size_t at = out->size();
        out->resize(at + whole);
        uint8_t* to = out->data() + at;
        uint32_t pending = pending_;
        for (uint64_t i = 0; i < whole; ++i) {
            const uint32_t b = bits[i];
            to[i] = static_cast<uint8_t>(pending | b >> shift);
            pending = (b << (8 - shift)) & 0xFF;
        }
        pending_ = static_cast<uint8_t>(pending);
    }
    if (rest > 0) {
        // The first rest bits of the last byte, behind the pending bits.
        const uint32_t b = bits[whole] & (0xFF00u >> rest);
        const uint32_t total = pendingBits_ + rest;
        const uint32_t merged = pending_ | b >> pendingBits_;
        if (total >= 8) {
            out->push_back(static_cast<uint8_t>(merged));
            pending_ = static_cast<uint8_t>((b << (8 - pendingBits_)) & 0xFF);
            pendingBits_ = total - 8;
        } else {
            pending_ = static_cast<uint8_t>(merged);
            pendingBits_ = total;
        }
    }
    bitCount_ += bitLength;
}

void LzwBitJoiner::Finish(std::vector<uint8_t>* out)
{
    if (pendingBits_ > 0)
        out->push_back(pending_);
    pending_ = 0;
    pendingBits_ = 0;
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
