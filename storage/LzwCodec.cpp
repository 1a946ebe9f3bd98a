// Variable-width LZW codec: trie encoder with chunked output, prefix-chain decoder.
#include "LzwCodec.h"

#include <cstring>
#include <memory>

struct LzwTrieNode {
    uint8_t value;
    uint16_t code;
    LzwTrieNode* firstChild;
    LzwTrieNode* nextSibling;
};

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

LzwEncoder::~LzwEncoder()
{
    FreeTrie();
    delete[] buffer_;
}

void LzwEncoder::FreeTrie()
{
    if (!root_)
        return;
    // Iterative: a chain below one single byte can be thousands of nodes deep.
    // The head node's children take its place at the front of the list, its
    // siblings go behind the last of those children.
    LzwTrieNode* head = root_->firstChild;
    while (head) {
        LzwTrieNode* node = head;
        if (node->firstChild) {
            LzwTrieNode* last = node->firstChild;
            while (last->nextSibling)
                last = last->nextSibling;
            last->nextSibling = node->nextSibling;
            head = node->firstChild;
        } else {
            head = node->nextSibling;
        }
        delete node;
    }
    delete root_;
    root_ = nullptr;
    current_ = nullptr;
    std::memset(byteNodes_, 0, sizeof(byteNodes_));
}

void LzwEncoder::ResetDictionary()
{
    FreeTrie();
    root_ = new LzwTrieNode{0, 0, nullptr, nullptr};
    // Built from 255 down so that the root's list runs in ascending byte order.
    for (int b = 255; b >= 0; --b) {
        LzwTrieNode* node = new LzwTrieNode{static_cast<uint8_t>(b), static_cast<uint16_t>(b), nullptr,
                                            root_->firstChild};
        root_->firstChild = node;
        byteNodes_[b] = node;
    }
    nextCode_ = kFirstFreeCode;
}

void LzwEncoder::WriteCode(uint32_t code, uint32_t width)
{
    // The code goes into a 24-bit big-endian window starting at the byte that
    // holds the next free bit; bits already written in that byte are kept.
    uint32_t byteIndex = bitCount_ >> 3;
    uint32_t used = bitCount_ & 7;
    uint32_t window = code << (24 - used - width);
    uint32_t keepMask = (0xFF00u >> used) & 0xFF;
    buffer_[byteIndex] = static_cast<uint8_t>((buffer_[byteIndex] & keepMask) | (window >> 16));
    uint32_t bytesTouched = (used + width + 7) >> 3;
    buffer_[byteIndex + 1] = static_cast<uint8_t>(window >> 8);
    if (bytesTouched > 2)
        buffer_[byteIndex + 2] = static_cast<uint8_t>(window);
    bitCount_ += width;
}

void LzwEncoder::StartStream(uint32_t chunk)
{
    delivered_ = 0;
    ResetDictionary();
    delete[] buffer_;
    buffer_ = nullptr;
    // Spare bytes: what can be written between two delivery checks (a clear
    // code and a data code) or after the last one (clear, data and end codes),
    // plus the byte WriteCode may touch beyond the code.
    bufferCapacity_ = chunk + 8;
    buffer_ = new uint8_t[bufferCapacity_]();
    bitCount_ = 0;

    WriteCode(kClearCode, 9);
    current_ = root_;
}

void LzwEncoder::DeliverWholeChunks(uint32_t chunk, LzwWriteBlock writeBlock, void* context)
{
    // A loop rather than one delivery keeps chunks of 1 or 2 bytes from
    // outgrowing the buffer.
    while ((bitCount_ + 7) / 8 > chunk) {
        writeBlock(buffer_, chunk, context);
        delivered_ += chunk;
        uint32_t pending = (bitCount_ + 7) / 8;
        std::memmove(buffer_, buffer_ + chunk, pending - chunk);
        bitCount_ -= 8 * chunk;
    }
}

void LzwEncoder::EncodeByte(uint8_t byte, uint32_t chunk, LzwWriteBlock writeBlock, void* context)
{
    LzwTrieNode* child = current_->firstChild;
    while (child && child->value != byte)
        child = child->nextSibling;
    if (child) {
        current_ = child;
        return;
    }
    WriteCode(current_->code, CodeWidth(nextCode_));
    current_->firstChild = new LzwTrieNode{byte, static_cast<uint16_t>(nextCode_), nullptr, current_->firstChild};
    ++nextCode_;
    // Whole chunks leave as soon as more than one chunk is pending.
    DeliverWholeChunks(chunk, writeBlock, context);
    if (nextCode_ >= static_cast<uint32_t>(codeLimit_) - 3) {
        WriteCode(kClearCode, CodeWidth(nextCode_));
        ResetDictionary();
    }
    current_ = byteNodes_[byte];
}

int LzwEncoder::Compress(uint32_t n, LzwReadByte readByte, LzwWriteBlock writeBlock, void* context,
                         uint32_t chunkSize, LzwProgress progress, void* progressContext)
{
    streamOpen_ = false;
    uint32_t chunk = chunkSize & 0xFFFF;
    if (chunk == 0)
        return 0;
    StartStream(chunk);
    if (progress)
        progress(0, n, progressContext);

    for (uint32_t i = 0; i < n; ++i) {
        uint8_t byte = 0;
        if (!readByte(&byte, context))
            return 0;
        EncodeByte(byte, chunk, writeBlock, context);
        if (progress && i != 0 && i % 100 == 0)
            progress(i, n, progressContext);
    }
    if (n > 0)
        WriteCode(current_->code, CodeWidth(nextCode_));
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
    WriteCode(kEndCode, CodeWidth(nextCode_ + 1));
    uint32_t pending = (bitCount_ + 7) / 8;
    delivered_ += pending;
    writeBlock(buffer_, pending, context);
    FreeTrie();
    delete[] buffer_;
    buffer_ = nullptr;
    bitCount_ = 0;
    bufferCapacity_ = 0;
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

// Bits from a stream held whole in memory. It takes input in the same steps
// as the callback reader, so both agree on how much was consumed at the end.
class MemoryBitSource {
public:
    MemoryBitSource(const uint8_t* data, uint32_t length, uint32_t chunk) : data_(data), length_(length), chunk_(chunk)
    {}

    bool ReadCode(uint32_t width, uint32_t* code)
    {
        uint64_t available = static_cast<uint64_t>(consumed_) * 8 - bitsRead_;
        while (available < 8 * kRefillThreshold - 7 && consumed_ < length_) {
            uint32_t k = length_ - consumed_;
            if (k > chunk_)
                k = chunk_;
            consumed_ += k;
            available += 8ull * k;
        }
        if (available < width)
            return false;
        *code = CodeAt(data_, consumed_, bitsRead_, width);
        bitsRead_ += width;
        return true;
    }

    uint32_t Consumed() const { return consumed_; }

private:
    const uint8_t* data_;
    uint32_t length_;
    uint32_t chunk_;
    uint32_t consumed_ = 0;
    uint64_t bitsRead_ = 0;
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

namespace {

struct EncodeBufferContext {
    const uint8_t* in;
    uint32_t position;
    std::vector<uint8_t>* out;
};

int ReadInputByte(uint8_t* byte, void* context)
{
    auto* c = static_cast<EncodeBufferContext*>(context);
    *byte = c->in[c->position++];
    return 1;
}

int AppendBlock(const uint8_t* data, uint32_t length, void* context)
{
    auto* c = static_cast<EncodeBufferContext*>(context);
    c->out->insert(c->out->end(), data, data + length);
    return 1;
}

}  // namespace

int LzwEncodeBuffer(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out)
{
    out->clear();
    EncodeBufferContext context{in, 0, out};
    LzwEncoder encoder;
    if (!encoder.Compress(n, ReadInputByte, AppendBlock, &context, kLzwChunkSize))
        return 0;
    encoder.Finish(AppendBlock, &context);
    return 1;
}
