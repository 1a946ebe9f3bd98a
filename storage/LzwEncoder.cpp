// LZW encoder: hashed dictionary, three coding loops, chunked or vector output.
#include "LzwEncoder.h"

#include <cstring>
#include <memory>

#include "LzwCodecInternal.h"

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
