// Indexed decoding: worker threads decode pieces ahead into memory, the caller's thread hands them on in order.
#include "LzwIndexedDecode.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "ProgressHook.h"

namespace {

// Passes decoded bytes on after dropping the first skip of them (handed on
// before, by a decoding that stopped part way), telling progress of each piece.
struct Forward {
    LzwPieceSink sink;
    void* context;
    ProgressHook* progress;
    uint32_t skip;
    bool refused = false;
};

bool ForwardPiece(const uint8_t* data, uint32_t length, void* context)
{
    Forward& forward = *static_cast<Forward*>(context);
    if (forward.skip >= length) {
        forward.skip -= length;
        return true;
    }
    data += forward.skip;
    length -= forward.skip;
    forward.skip = 0;
    if (forward.sink && !forward.sink(data, length, forward.context)) {
        forward.refused = true;
        return false;
    }
    if (forward.progress)
        forward.progress->Advance(length);
    return true;
}

// A piece's own memory, filled in order; refuses what would not fit.
struct Fill {
    uint8_t* at;
    uint32_t left;
};

bool FillPiece(const uint8_t* data, uint32_t length, void* context)
{
    Fill& fill = *static_cast<Fill*>(context);
    if (length > fill.left)
        return false;
    std::memcpy(fill.at, data, length);
    fill.at += length;
    fill.left -= length;
    return true;
}

// Whether the pieces can describe a stream of inLength bytes: at least two,
// the first at bit 0, each starting after the one before and inside the
// stream, lengths adding up to no more than 32 bits count.
bool Plausible(const LzwPieceBounds* pieces, uint32_t count, uint32_t inLength)
{
    if (pieces == nullptr || count < 2 || pieces[0].startBit != 0)
        return false;
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (i > 0 && pieces[i].startBit <= pieces[i - 1].startBit)
            return false;
        if (pieces[i].startBit >= uint64_t{inLength} * 8)
            return false;
        total += pieces[i].length;
    }
    return total <= UINT32_MAX;
}

class IndexedDecode {
public:
    IndexedDecode(const uint8_t* in, uint32_t inLength, const LzwPieceBounds* pieces, uint32_t count)
        : in_(in), inLength_(inLength), pieces_(pieces), count_(count), slots_(count)
    {}
    ~IndexedDecode() { Stop(); }

    // Starts up to threads workers; false when none could be started.
    bool Start(unsigned threads)
    {
        window_ = threads + 1;
        for (unsigned i = 0; i < threads; ++i) {
            try {
                workers_.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break;
            }
        }
        return !workers_.empty();
    }

    // Hands the pieces on in order; at the first that does not check, the
    // rest of the stream is decoded one code after the other.
    int Run(Forward& forward, uint32_t* produced)
    {
        uint64_t delivered = 0;
        for (uint32_t k = 0; k < count_; ++k) {
            Slot& slot = WaitFor(k);
            const LzwPieceBounds& piece = pieces_[k];
            bool sound = slot.sound;
            uint32_t handed = 0;
            if (slot.streamed) {
                // Too long to hold: decoded here, straight to the sink.
                sound = LzwDecodeSpanPieces(in_, inLength_, piece.startBit, EndOf(k), k + 1 == count_, ForwardPiece,
                                            &forward, &handed) &&
                        handed == piece.length;
                if (forward.refused)
                    return Finish(delivered + handed, produced, 0);
            } else if (sound) {
                for (uint32_t at = 0; at < piece.length;) {
                    const uint32_t n = piece.length - at < kLzwPieceSize ? piece.length - at : kLzwPieceSize;
                    if (!ForwardPiece(slot.buffer.bytes.get() + at, n, &forward))
                        return Finish(delivered + at + n, produced, 0);
                    at += n;
                }
            }
            Release(k);
            if (!sound) {
                // The pieces before k are the stream's own up to here (each
                // ended with a clear code where the next began): decoding on
                // from k gives what decoding from the start would have.
                Stop();
                forward.skip = slot.streamed ? handed : 0;
                uint32_t rest = 0;
                const int whole = LzwDecodeSpanPieces(in_, inLength_, piece.startBit, uint64_t{inLength_} * 8, true,
                                                      ForwardPiece, &forward, &rest);
                return Finish(delivered + rest, produced, whole && !forward.refused);
            }
            delivered += piece.length;
        }
        return Finish(delivered, produced, 1);
    }

private:
    // Memory for a piece, passed on from piece to piece: fresh memory would
    // cost a page fault every 4 KiB each time.
    struct Buffer {
        std::unique_ptr<uint8_t[]> bytes;
        uint32_t capacity = 0;
    };

    struct Slot {
        Buffer buffer;
        bool done = false;
        bool sound = false;
        bool streamed = false;
    };

    uint64_t EndOf(uint32_t k) const { return k + 1 < count_ ? pieces_[k + 1].startBit : uint64_t{inLength_} * 8; }

    static int Finish(uint64_t total, uint32_t* produced, int result)
    {
        if (produced)
            *produced = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
        return total <= UINT32_MAX ? result : 0;
    }

    void Work()
    {
        for (;;) {
            uint32_t k;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || next_ >= count_ || next_ < released_ + window_; });
                if (stopping_ || next_ >= count_)
                    return;
                k = next_++;
            }
            Slot& slot = slots_[k];
            const LzwPieceBounds& piece = pieces_[k];
            if (piece.length > kLzwMaxBufferedPiece) {
                slot.streamed = true;
            } else {
                Buffer& buffer = slot.buffer;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (!spare_.empty()) {
                        buffer = std::move(spare_.back());
                        spare_.pop_back();
                    }
                }
                if (buffer.capacity < piece.length || !buffer.bytes) {
                    buffer.capacity = piece.length == 0 ? 1 : piece.length;
                    buffer.bytes.reset(new (std::nothrow) uint8_t[buffer.capacity]);
                }
                // Without the memory the piece counts as not checked: decoded one code after the other.
                // Decoded through the streaming window, not straight into the piece's memory: its
                // strings are copied from the last 64 KiB, which stay in the cache.
                Fill fill{buffer.bytes.get(), piece.length};
                uint32_t produced = 0;
                slot.sound = buffer.bytes &&
                             LzwDecodeSpanPieces(in_, inLength_, piece.startBit, EndOf(k), k + 1 == count_, FillPiece,
                                                 &fill, &produced) &&
                             produced == piece.length && fill.left == 0;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slot.done = true;
            }
            changed_.notify_all();
        }
    }

    Slot& WaitFor(uint32_t k)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return slots_[k].done; });
        return slots_[k];
    }

    void Release(uint32_t k)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (slots_[k].buffer.bytes)
                spare_.push_back(std::move(slots_[k].buffer));
            released_ = k + 1;
        }
        changed_.notify_all();
    }

    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
        workers_.clear();
    }

    const uint8_t* in_;
    uint32_t inLength_;
    const LzwPieceBounds* pieces_;
    uint32_t count_;
    std::vector<Slot> slots_;
    std::vector<Buffer> spare_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    uint32_t next_ = 0;
    uint32_t released_ = 0;
    uint32_t window_ = 1;
    bool stopping_ = false;
};

}  // namespace

unsigned LzwDecodeThreads()
{
    constexpr unsigned kMostThreads = 8;
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n > kMostThreads ? kMostThreads : n;
}

int LzwDecodeIndexed(const uint8_t* in, uint32_t inLength, const LzwPieceBounds* pieces, uint32_t count,
                     unsigned threads, LzwPieceSink sink, void* context, uint32_t* produced, ProgressHook* progress)
{
    if (threads > 1 && Plausible(pieces, count, inLength)) {
        IndexedDecode decode(in, inLength, pieces, count);
        if (decode.Start(threads)) {
            Forward forward{sink, context, progress, 0};
            return decode.Run(forward, produced);
        }
    }
    return LzwDecodePieces(in, inLength, sink, context, produced, progress);
}
