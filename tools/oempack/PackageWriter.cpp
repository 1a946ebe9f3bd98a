// Streams planned entries into a container: records and data in order, offset tables patched afterwards.
#include "PackageWriter.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "ByteView.h"
#include "CFile.h"
#include "Console.h"
#include "ContainerFormat.h"
#include "LzwCodec.h"
#include "MemorySink.h"
#include "SpillBuffer.h"
#include "StringKeyMap.h"
#include "SystemApi.h"

namespace {

// Entries up to this size are read whole, once, for compressing and storing;
// larger ones are read in pieces, again when they are stored plainly.
constexpr uint32_t kWholeEntryLimit = 4u << 20;
// A compressed stream beyond this waits in a temporary file.
constexpr uint32_t kSpillMemoryLimit = 4u << 20;

const char* const kLayoutRefusal = "the package cannot be laid out: it would reach 4 GiB or exceed 65535 entries";

// A failure of entry's input, with what went wrong and the system's text for code.
Status Failure(const PlannedEntry& entry, const char* what, uint32_t code)
{
    const std::string& source = entry.inMemory ? entry.name : entry.sourcePath;
    return SystemFailure(code, source + ": " + what);
}

uint64_t Ticks(const FileTime& t)
{
    return uint64_t{t.highDateTime} << 32 | t.lowDateTime;
}

// An entry ready to be written: its record fields and where its data comes from.
struct PreparedEntry {
    Status status;
    uint32_t attributes = 0;
    FileTime times[3] = {};
    uint32_t size = 0;
    // The data stored plainly: held bytes (an entry in memory, or a small file
    // read whole), else read from the open file.
    const uint8_t* held = nullptr;
    std::vector<uint8_t> heldCopy;
    std::unique_ptr<CFile> file;
    // The LZW stream, when the entry is stored compressed.
    std::unique_ptr<SpillBuffer> stream;
    // Left to the writer, to compress straight into the output.
    bool compressAtWrite = false;
    std::vector<std::string> warnings;
};

// The bytes of a source in pieces: a file from its start, or a block of memory.
class PieceReader {
public:
    PieceReader(const PlannedEntry& entry, CFile* file, const uint8_t* held, uint32_t size)
        : entry_(entry), file_(file), held_(held), size_(size)
    {
    }

    // The next piece (empty at the end); false on a read failure (status()).
    bool Next(const uint8_t** piece, uint32_t* length)
    {
        const uint32_t left = size_ - done_;
        if (held_ != nullptr || left == 0) {
            *piece = held_ + done_;
            *length = left;
            done_ = size_;
            return true;
        }
        if (!buffer_)
            buffer_.reset(new uint8_t[kPackageIoPiece]);
        const uint32_t want = left < kPackageIoPiece ? left : kPackageIoPiece;
        if (!ReadInto(buffer_.get(), want))
            return false;
        *piece = buffer_.get();
        *length = want;
        return true;
    }
    // The next length bytes into buffer; false on a read failure (status()).
    bool ReadInto(uint8_t* buffer, uint32_t length)
    {
        try {
            if (done_ == 0)
                file_->Seek(0, CFile::begin);
            if (length > size_ - done_ || file_->Read(buffer, length) != length) {
                status_ = Failure(entry_, "cannot read", kErrorHandleEof);
                return false;
            }
        } catch (const CFileException& e) {
            status_ = Failure(entry_, "cannot read", static_cast<uint32_t>(e.m_lOsError));
            return false;
        }
        done_ += length;
        return true;
    }
    const Status& status() const { return status_; }

private:
    const PlannedEntry& entry_;
    CFile* file_;
    const uint8_t* held_;
    uint32_t size_;
    uint32_t done_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;
    Status status_;
};

// Record fields of an entry and its source, opened.
Status OpenEntry(const PackagePlan& plan, const PlannedEntry& entry, PreparedEntry& out)
{
    if (entry.inMemory) {
        out.size = static_cast<uint32_t>(entry.content.size());
        out.held = reinterpret_cast<const uint8_t*>(entry.content.data());
        out.attributes = kFileAttributeArchive;
        out.times[0] = out.times[1] = out.times[2] = GetSystemFileTime();
    } else {
        out.file.reset(new CFile);
        CFileException cause;
        if (!out.file->Open(entry.sourcePath.c_str(), CFile::modeRead | CFile::shareDenyNone, &cause))
            return Failure(entry, "cannot read", static_cast<uint32_t>(cause.m_lOsError));
        uint64_t length = 0;
        try {
            length = out.file->GetLength();
        } catch (const CFileException& e) {
            return Failure(entry, "cannot read", static_cast<uint32_t>(e.m_lOsError));
        }
        if (length > 0xFFFFFFFFull)
            return Failure(entry, "cannot read", kErrorFileTooLarge);
        out.size = static_cast<uint32_t>(length);
        if (!GetHandleTimes(out.file->GetHandle(), &out.times[0], &out.times[1], &out.times[2]))
            return Failure(entry, "cannot read its times", GetLastErrorValue());
        const uint32_t attributes = GetPathAttributes(entry.sourcePath.c_str());
        out.attributes = attributes == kInvalidFileAttributes ? 0 : attributes;
    }
    if (plan.HasTimeLimit()) {
        const FileTime limit = plan.TimeLimit();
        for (FileTime& t : out.times)
            if (entry.inMemory || Ticks(t) > Ticks(limit))
                t = limit;
    }
    return Status::Ok();
}

// Reads a small file whole, so that coding and checking need no second read.
Status HoldWhole(const PlannedEntry& entry, PreparedEntry& out)
{
    if (out.held != nullptr)
        return Status::Ok();
    out.heldCopy.resize(out.size);
    PieceReader reader(entry, out.file.get(), nullptr, out.size);
    uint32_t at = 0;
    const uint8_t* piece = nullptr;
    uint32_t length = 0;
    while (at < out.size) {
        if (!reader.Next(&piece, &length))
            return reader.status();
        std::memcpy(out.heldCopy.data() + at, piece, length);
        at += length;
    }
    out.held = out.heldCopy.data();
    return Status::Ok();
}

std::string NoDecodeWarning(const PlannedEntry& entry)
{
    return (entry.inMemory ? entry.name : entry.sourcePath) +
           ": the compressed form did not decode back; stored uncompressed";
}

LzwPieceEncoder PieceEncoderOf(const WriteSettings& settings)
{
    if (settings.encodePiece)
        return settings.encodePiece;
    int (*codec)(const uint8_t*, uint32_t, std::vector<uint8_t>*, LzwPiece, uint64_t*) = LzwEncodeBuffer;
    return codec;
}

// One piece of an entry's input on its way through the codec: coded, then
// checked by decoding the coded bits and comparing them with the input.
struct CodedPiece {
    const uint8_t* input = nullptr;  // the held entry, or buffer
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t capacity = 0;  // of buffer
    uint32_t length = 0;
    LzwPiece where = {true, true};
    std::vector<uint8_t> bits;
    uint64_t bitLength = 0;
    bool sound = false;
    // One byte value throughout (of an entry split in pieces): coded with the
    // pieces of the same value around it, not on its own.
    bool run = false;
};

void CodePiece(CodedPiece& piece, LzwPieceEncoder encode)
{
    if (!encode(piece.input, piece.length, &piece.bits, piece.where, &piece.bitLength))
        piece.bitLength = 0;
}

// The decoded pieces of a check, compared with the input as they come.
struct CheckedInput {
    const uint8_t* input;
    uint32_t length;
    uint32_t at;
};

bool CompareDecoded(const uint8_t* data, uint32_t length, void* context)
{
    CheckedInput* checked = static_cast<CheckedInput*>(context);
    if (length > checked->length - checked->at || std::memcmp(data, checked->input + checked->at, length) != 0)
        return false;
    checked->at += length;
    return true;
}

// The decoded pieces of a run's check: every byte the run's value.
struct CheckedRun {
    uint8_t value;
    uint64_t left;
};

bool CompareRun(const uint8_t* data, uint32_t length, void* context)
{
    CheckedRun* checked = static_cast<CheckedRun*>(context);
    if (length > checked->left || data[0] != checked->value || (length > 1 && std::memcmp(data, data + 1, length - 1)))
        return false;
    checked->left -= length;
    return true;
}

// Codes length copies of value as one piece into bits and checks them by
// decoding; false when they do not decode back to the run.
bool CodeRun(uint8_t value, uint32_t length, LzwPiece where, std::vector<uint8_t>* bits, uint64_t* bitLength)
{
    CheckedRun checked{value, length};
    uint32_t produced = 0;
    return LzwEncodeRun(value, length, bits, where, bitLength) &&
           LzwDecodePieces(bits->data(), *bitLength, where, CompareRun, &checked, &produced) && produced == length &&
           checked.left == 0;
}

void CheckPiece(CodedPiece& piece)
{
    CheckedInput checked{piece.input, piece.length, 0};
    uint32_t produced = 0;
    piece.sound = piece.bitLength != 0 && piece.bits.size() == (piece.bitLength + 7) / 8 &&
                  LzwDecodePieces(piece.bits.data(), piece.bitLength, piece.where, CompareDecoded, &checked,
                                  &produced) &&
                  produced == piece.length && checked.at == piece.length;
}

// Tells worker threads waiting on changed that they are stopping, and waits for them.
void StopThreads(std::mutex& mutex, std::condition_variable& changed, bool* stopping,
                 std::vector<std::thread>& threads)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        *stopping = true;
    }
    changed.notify_all();
    for (std::thread& thread : threads)
        thread.join();
}

// Codes and checks the pieces of split entries on jobs threads, for every
// entry being prepared. A worker takes the oldest piece that waits for its
// check before any that waits to be coded, so the check of one piece runs
// beside the coding of the next. At most jobs + 1 pieces are under way at a
// time, whatever the number of entries.
class PieceWorkers {
public:
    PieceWorkers(unsigned jobs, LzwPieceEncoder encode) : encode_(encode), limit_(jobs + 1)
    {
        for (unsigned i = 0; i < jobs; ++i)
            threads_.emplace_back([this] { Work(); });
    }
    ~PieceWorkers() { StopThreads(mutex_, changed_, &stopping_, threads_); }
    PieceWorkers(const PieceWorkers&) = delete;
    PieceWorkers& operator=(const PieceWorkers&) = delete;

    // Room for one more piece under way: waits for it when wait is set
    // (the caller has none under way, so others will make room), else false
    // when there is none.
    bool Reserve(bool wait)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wait)
            changed_.wait(lock, [&] { return underWay_ < limit_; });
        if (underWay_ >= limit_)
            return false;
        ++underWay_;
        return true;
    }

    // Gives back the room of a piece that was reserved and never submitted.
    void Unreserve()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --underWay_;
        }
        changed_.notify_all();
    }

    // Codes and checks a piece for which room was reserved.
    void Submit(CodedPiece* piece)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            toCode_.push_back(piece);
        }
        changed_.notify_all();
    }

    // Waits until piece is coded and checked; its room is free again.
    void Wait(CodedPiece* piece)
    {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return done_.count(piece) != 0; });
            done_.erase(piece);
            --underWay_;
        }
        changed_.notify_all();
    }

private:
    void Work()
    {
        for (;;) {
            CodedPiece* piece = nullptr;
            bool check = false;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || !toCheck_.empty() || !toCode_.empty(); });
                if (stopping_)
                    return;
                check = !toCheck_.empty();
                std::deque<CodedPiece*>& queue = check ? toCheck_ : toCode_;
                piece = queue.front();
                queue.pop_front();
            }
            if (check)
                CheckPiece(*piece);
            else
                CodePiece(*piece, encode_);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (check)
                    done_.insert(piece);
                else
                    toCheck_.push_back(piece);
            }
            changed_.notify_all();
        }
    }

    LzwPieceEncoder encode_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<CodedPiece*> toCode_;
    std::deque<CodedPiece*> toCheck_;
    std::set<CodedPiece*> done_;
    unsigned limit_;
    unsigned underWay_ = 0;
    bool stopping_ = false;
};

// The input piece size for an entry of size bytes: the whole entry up to
// kSplitThreshold, which keeps its stream the unsplit one, else kSplitPiece.
uint32_t PieceSizeFor(uint32_t size)
{
    return size <= kSplitThreshold ? size : kSplitPiece;
}

// Where a compressed stream goes as its pieces are joined.
using StreamAppend = std::function<Status(const uint8_t* data, uint32_t length)>;

// Compresses an entry piece by piece (held bytes, or the file read in
// pieces), handing the stream to append as it grows; *accepted is set when
// the stream is shorter than the content and every piece decoded back to its
// input. Stops coding once the stream is as long as the content, so what was
// appended is then shorter than the content. The stream and the decision do
// not depend on the jobs. bounds (when given) receives where each piece
// joined starts and what it decodes to.
Status CompressPieces(const PlannedEntry& entry, const WriteSettings& settings, PieceWorkers* pool,
                      PreparedEntry& out, const StreamAppend& append, bool* accepted,
                      std::vector<LzwPieceBounds>* bounds = nullptr)
{
    *accepted = false;
    const uint32_t size = out.size;
    const uint32_t pieceSize = PieceSizeFor(size);
    const uint32_t count = static_cast<uint32_t>((uint64_t{size} + pieceSize - 1) / pieceSize);
    const LzwPieceEncoder encode = PieceEncoderOf(settings);
    PieceReader reader(entry, out.file.get(), nullptr, size);
    // A single piece is coded here; so is everything when there is one job.
    PieceWorkers* workers = count > 1 ? pool : nullptr;
    std::deque<std::unique_ptr<CodedPiece>> inFlight;
    std::vector<std::unique_ptr<CodedPiece>> spare;
    uint32_t read = 0;
    LzwBitJoiner joiner;
    std::vector<uint8_t> joined;
    // Stored plainly once the stream has more than 8 * (size - 1) bits.
    const uint64_t storeAbove = 8 * (uint64_t{size} - 1);
    Status appended;
    // Puts coded bits behind the stream and hands on the whole bytes; false
    // once the stream is too long to keep or could not be appended.
    auto join = [&](const uint8_t* bits, uint64_t bitLength, uint32_t length, bool last) {
        if (bounds)
            bounds->push_back(LzwPieceBounds{joiner.BitCount(), length});
        joiner.Append(bits, bitLength, &joined);
        if (joiner.BitCount() > storeAbove)
            return false;
        if (last)
            joiner.Finish(&joined);
        appended = append(joined.data(), static_cast<uint32_t>(joined.size()));
        joined.clear();
        return static_cast<bool>(appended);
    };
    // A run of pieces of one byte value whose end has not been read yet.
    struct PendingRun {
        bool pending;
        uint8_t value;
        uint32_t length;
        bool first;
    } run{false, 0, 0, false};
    std::vector<uint8_t> runBits;
    auto joinRun = [&](bool last) {
        run.pending = false;
        uint64_t bitLength = 0;
        if (!CodeRun(run.value, run.length, LzwPiece{run.first, last}, &runBits, &bitLength)) {
            out.warnings.push_back(NoDecodeWarning(entry));
            return false;
        }
        return join(runBits.data(), bitLength, run.length, last);
    };
    for (uint32_t taken = 0; taken < count; ++taken) {
        while (read < count && (workers ? workers->Reserve(inFlight.empty()) : inFlight.empty())) {
            // Pieces taken before are used again, buffers and all: fresh
            // memory for every piece costs more in page faults than the copying.
            std::unique_ptr<CodedPiece> piece;
            if (spare.empty()) {
                piece = std::make_unique<CodedPiece>();
            } else {
                piece = std::move(spare.back());
                spare.pop_back();
            }
            const uint64_t at = uint64_t{read} * pieceSize;
            piece->length = static_cast<uint32_t>(size - at < pieceSize ? size - at : pieceSize);
            piece->where = LzwPiece{read == 0, read + 1 == count};
            piece->sound = false;
            if (out.held != nullptr) {
                piece->input = out.held + at;
            } else {
                if (piece->capacity < piece->length) {
                    piece->buffer.reset(new uint8_t[piece->length]);
                    piece->capacity = piece->length;
                }
                piece->input = piece->buffer.get();
                reader.ReadInto(piece->buffer.get(), piece->length);
            }
            if (!reader.status()) {
                if (workers)
                    workers->Unreserve();
                break;
            }
            piece->run = count > 1 && LzwIsRun(piece->input, piece->length);
            if (workers && !piece->run)
                workers->Submit(piece.get());
            inFlight.push_back(std::move(piece));
            ++read;
        }
        if (!reader.status())
            break;
        std::unique_ptr<CodedPiece> piece = std::move(inFlight.front());
        inFlight.pop_front();
        const bool last = taken + 1 == count;
        if (piece->run) {
            // Whole pieces of one value are coded together when the run ends.
            if (workers)
                workers->Unreserve();
            const uint8_t value = piece->input[0];
            const bool continues = run.pending && run.value == value;
            if (run.pending && !continues && !joinRun(false))
                break;
            if (!continues)
                run = PendingRun{true, value, 0, piece->where.first};
            run.length += piece->length;
            spare.push_back(std::move(piece));
            if (last && !joinRun(true))
                break;
            continue;
        }
        if (workers) {
            workers->Wait(piece.get());
        } else {
            CodePiece(*piece, encode);
            CheckPiece(*piece);
        }
        if (run.pending && !joinRun(false))
            break;
        if (!piece->sound) {
            out.warnings.push_back(NoDecodeWarning(entry));
            break;
        }
        if (!join(piece->bits.data(), piece->bitLength, piece->length, last))
            break;
        spare.push_back(std::move(piece));
    }
    // Pieces still under way finish before their memory goes; runs were never handed on.
    if (workers)
        for (const std::unique_ptr<CodedPiece>& piece : inFlight) {
            if (piece->run)
                workers->Unreserve();
            else
                workers->Wait(piece.get());
        }
    if (!reader.status())
        return reader.status();
    if (!appended)
        return appended;
    *accepted = out.warnings.empty() && joiner.BitCount() <= storeAbove;
    return Status::Ok();
}

// The entry opened, and held whole when it is small and will be compressed.
std::unique_ptr<PreparedEntry> Open(const PackagePlan& plan, const PlannedEntry& entry,
                                    const WriteSettings& settings)
{
    auto out = std::make_unique<PreparedEntry>();
    out->status = OpenEntry(plan, entry, *out);
    if (out->status && settings.compress && out->size != 0 && out->size <= kWholeEntryLimit)
        out->status = HoldWhole(entry, *out);
    return out;
}

bool WillCompress(const WriteSettings& settings, const PreparedEntry& prepared)
{
    return prepared.status && settings.compress && prepared.size != 0;
}

// Everything about one entry that can be done before its turn to be written:
// a compressed stream waits in a spill buffer. An entry that is split into
// pieces is only opened: its pieces take all jobs anyway, and the writer
// compresses it straight into the output when its turn comes.
std::unique_ptr<PreparedEntry> Prepare(const PackagePlan& plan, const PlannedEntry& entry,
                                       const WriteSettings& settings, PieceWorkers* pool)
{
    std::unique_ptr<PreparedEntry> out = Open(plan, entry, settings);
    if (!WillCompress(settings, *out))
        return out;
    if (out->size > kSplitThreshold) {
        out->compressAtWrite = true;
        return out;
    }
    auto stream = std::make_unique<SpillBuffer>(settings.spillFolder, kSpillMemoryLimit);
    SpillBuffer* spill = stream.get();
    bool accepted = false;
    out->status = CompressPieces(
        entry, settings, pool, *out, [spill](const uint8_t* data, uint32_t length) { return spill->Append(data, length); },
        &accepted);
    if (out->status && accepted)
        out->stream = std::move(stream);
    return out;
}

// Prepares entries on worker threads, at most one per job ahead of the
// writer (so memory is bounded by the jobs, not the package), and hands them
// over in order.
class PreparePipeline {
public:
    PreparePipeline(const PackagePlan& plan, const std::vector<const PlannedEntry*>& entries,
                    const WriteSettings& settings, PieceWorkers* pool)
        : plan_(plan), entries_(entries), settings_(settings), pool_(pool), ready_(entries.size())
    {
        window_ = settings.jobs;
        for (unsigned i = 0; i < settings.jobs; ++i)
            workers_.emplace_back([this] { Work(); });
    }
    ~PreparePipeline() { StopThreads(mutex_, changed_, &stopping_, workers_); }
    PreparePipeline(const PreparePipeline&) = delete;
    PreparePipeline& operator=(const PreparePipeline&) = delete;

    // Entry index, prepared; the entries before it were taken already.
    std::unique_ptr<PreparedEntry> Take(size_t index)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return ready_[index] != nullptr; });
        std::unique_ptr<PreparedEntry> taken = std::move(ready_[index]);
        taken_ = index + 1;
        lock.unlock();
        changed_.notify_all();
        return taken;
    }

private:
    void Work()
    {
        for (;;) {
            size_t index = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] {
                    return stopping_ || next_ >= entries_.size() || next_ < taken_ + window_;
                });
                if (stopping_ || next_ >= entries_.size())
                    return;
                index = next_++;
            }
            std::unique_ptr<PreparedEntry> prepared = Prepare(plan_, *entries_[index], settings_, pool_);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ready_[index] = std::move(prepared);
            }
            changed_.notify_all();
        }
    }

    const PackagePlan& plan_;
    const std::vector<const PlannedEntry*>& entries_;
    const WriteSettings& settings_;
    PieceWorkers* pool_;
    std::vector<std::unique_ptr<PreparedEntry>> ready_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_ = 0;
    size_t taken_ = 0;
    size_t window_ = 2;
    bool stopping_ = false;
};

// The groups of the plan in the order a PackageDirectory holding them would
// write them: that of its map, which the format's readers do not care about
// but which keeps the bytes those earlier builds gave.
std::vector<const PlannedGroup*> GroupsInImageOrder(const PackagePlan& plan)
{
    StringKeyMap map(10);
    for (const PlannedGroup& group : plan.Groups())
        if (!group.entries.empty())
            map.SetAt(group.name.c_str(), const_cast<PlannedGroup*>(&group));
    std::vector<const PlannedGroup*> ordered;
    StringKeyMap::Position position = map.GetStartPosition();
    while (position) {
        CString name;
        void* value = nullptr;
        map.GetNextAssoc(position, name, value);
        ordered.push_back(static_cast<const PlannedGroup*>(value));
    }
    return ordered;
}

// Puts the content of a prepared entry at dataStart, reporting progress from
// base: over what was appended from there already (a stream given up on,
// always shorter than the content), then appended.
Status WriteContent(const PlannedEntry& entry, PreparedEntry& prepared, ByteSink& sink,
                    const ByteProgress& progress, uint64_t base, uint64_t dataStart)
{
    PieceReader reader(entry, prepared.file.get(), prepared.held, prepared.size);
    uint32_t done = 0;
    while (done < prepared.size) {
        const uint8_t* piece = nullptr;
        uint32_t length = 0;
        if (!reader.Next(&piece, &length))
            return reader.status();
        const uint64_t at = dataStart + done;
        const uint32_t over = sink.Size() <= at ? 0
                              : sink.Size() - at < length ? static_cast<uint32_t>(sink.Size() - at)
                                                          : length;
        Status written = over > 0 ? sink.Patch(at, piece, over) : Status::Ok();
        if (written && over < length)
            written = sink.Append(piece + over, length - over);
        if (!written)
            return written;
        done += length;
        if (progress)
            progress(base + done);
    }
    return Status::Ok();
}

// Appends the stored data of a prepared entry, reporting progress from base.
Status AppendData(const PlannedEntry& entry, PreparedEntry& prepared, ByteSink& sink,
                  const ByteProgress& progress, uint64_t base)
{
    if (prepared.stream) {
        Status status = prepared.stream->Rewind();
        std::unique_ptr<uint8_t[]> piece(new uint8_t[kPackageIoPiece]);
        uint64_t left = prepared.stream->Size();
        while (status && left > 0) {
            const uint32_t n = left < kPackageIoPiece ? static_cast<uint32_t>(left) : kPackageIoPiece;
            status = prepared.stream->Read(piece.get(), n);
            if (status)
                status = sink.Append(piece.get(), n);
            left -= n;
        }
        return status;
    }
    return WriteContent(entry, prepared, sink, progress, base, sink.Size());
}

void WriteTime(ByteSpan& record, uint32_t offset, const FileTime& time)
{
    record.WriteU32(offset, time.lowDateTime);
    record.WriteU32(offset + 4, time.highDateTime);
}

// Appends the entry's record and name, its compressed size given, after
// checking that storedLength bytes of data will still fit.
Status AppendHead(const PlannedEntry& entry, const PreparedEntry& prepared, uint64_t storedLength,
                  uint32_t compressedSize, ByteSink& sink)
{
    const uint32_t nameLength = static_cast<uint32_t>(entry.name.size());
    if (sink.Size() + EntrySize(nameLength, 0) + storedLength > kMaxPackageSize)
        return Status::Error(kErrorInvalidParameter, kLayoutRefusal);
    uint8_t head[kEntryNameOffset + kMaxNameLength] = {};
    ByteSpan record(head, sizeof head);
    record.WriteU16(kEntryKindOffset, kFileEntryKind);
    record.WriteU32(kEntryAttributesOffset, prepared.attributes);
    record.WriteU32(kEntryUncompressedSizeOffset, prepared.size);
    record.WriteU32(kEntryCompressedSizeOffset, compressedSize);
    WriteTime(record, kEntryCreationTimeOffset, prepared.times[0]);
    WriteTime(record, kEntryLastAccessTimeOffset, prepared.times[1]);
    WriteTime(record, kEntryLastWriteTimeOffset, prepared.times[2]);
    record.WriteU16(kEntryNameLengthOffset, static_cast<uint16_t>(nameLength));
    record.WriteBytes(kEntryNameOffset, entry.name.data(), nameLength);
    return sink.Append(head, kEntryNameOffset + StoredNameSize(nameLength));
}

void Count(const PreparedEntry& prepared, uint64_t storedLength, bool compressed, WriteStats* stats)
{
    stats->sourceBytes += prepared.size;
    stats->storedBytes += storedLength;
    if (compressed)
        ++stats->compressedEntries;
    ++stats->entries;
}

// Appends the entry's record, name and data.
Status AppendEntry(const PlannedEntry& entry, PreparedEntry& prepared, ByteSink& sink,
                   const ByteProgress& progress, uint64_t base, WriteStats* stats)
{
    const uint64_t storedLength = prepared.stream ? prepared.stream->Size() : prepared.size;
    Status status =
        AppendHead(entry, prepared, storedLength, prepared.stream ? static_cast<uint32_t>(storedLength) : 0, sink);
    if (status)
        status = AppendData(entry, prepared, sink, progress, base);
    if (!status)
        return status;
    Count(prepared, storedLength, prepared.stream != nullptr, stats);
    return Status::Ok();
}

// Compresses an opened entry straight into the sink behind its record, whose
// compressed size is filled in once the stream is accepted; otherwise the
// content goes over what was appended of the stream. The bytes are those of
// AppendEntry after Prepare, without a stream waiting in a spill buffer.
Status CompressIntoSink(const PlannedEntry& entry, PreparedEntry& prepared, const WriteSettings& settings,
                        PieceWorkers* pool, ByteSink& sink, const ByteProgress& progress, uint64_t base,
                        WriteStats* stats)
{
    const uint64_t headAt = sink.Size();
    Status status = AppendHead(entry, prepared, 0, 0, sink);
    if (!status)
        return status;
    const uint64_t dataStart = sink.Size();
    bool accepted = false;
    std::vector<LzwPieceBounds> bounds;
    status = CompressPieces(
        entry, settings, pool, prepared,
        [&sink](const uint8_t* data, uint32_t length) {
            if (sink.Size() + length > kMaxPackageSize)
                return Status::Error(kErrorInvalidParameter, kLayoutRefusal);
            return sink.Append(data, length);
        },
        &accepted, &bounds);
    stats->warnings.insert(stats->warnings.end(), prepared.warnings.begin(), prepared.warnings.end());
    if (!status)
        return status;
    if (accepted) {
        const uint64_t streamLength = sink.Size() - dataStart;
        uint8_t field[4];
        ByteSpan(field, sizeof field).WriteU32(0, static_cast<uint32_t>(streamLength));
        status = sink.Patch(headAt + kEntryCompressedSizeOffset, field, sizeof field);
        if (status) {
            Count(prepared, streamLength, true, stats);
            stats->pieceIndex.Add(IndexedStream{static_cast<uint32_t>(dataStart),
                                                static_cast<uint32_t>(streamLength), std::move(bounds)});
        }
        return status;
    }
    if (dataStart + prepared.size > kMaxPackageSize)
        return Status::Error(kErrorInvalidParameter, kLayoutRefusal);
    status = WriteContent(entry, prepared, sink, progress, base, dataStart);
    if (status)
        Count(prepared, prepared.size, false, stats);
    return status;
}

}  // namespace

unsigned DefaultJobCount()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n > kMaxJobs ? kMaxJobs : n;
}

Status WritePackage(const PackagePlan& plan, const WriteSettings& settings, ByteSink& sink,
                    const ByteProgress& progress, WriteStats* stats)
{
    if (!settings.compress && plan.UncompressedImageSize() > kMaxPackageSize)
        return Status::Error(kErrorInvalidParameter,
                             "the package would be " + std::to_string(plan.UncompressedImageSize()) +
                                 " bytes; a package must stay below 4 GiB");
    const std::vector<const PlannedGroup*> groups = GroupsInImageOrder(plan);
    std::vector<const PlannedEntry*> entries;
    for (const PlannedGroup* group : groups)
        for (const PlannedEntry& entry : group->entries)
            entries.push_back(&entry);
    if (groups.size() > kMaxCount || entries.size() > kMaxCount)
        return Status::Error(kErrorInvalidParameter, kLayoutRefusal);

    // Header and group records go out with empty offset tables, filled in
    // once the entries behind them have their places.
    const uint32_t groupCount = static_cast<uint32_t>(groups.size());
    std::vector<uint8_t> header(HeaderSize(groupCount), 0);
    ByteSpan headerSpan(header.data(), static_cast<uint32_t>(header.size()));
    headerSpan.WriteU32(kHeaderMagicOffset, kContainerMagic);
    headerSpan.WriteU16(kHeaderVersionOffset, kContainerVersion);
    headerSpan.WriteU16(kHeaderEntryTotalOffset, static_cast<uint16_t>(entries.size()));
    headerSpan.WriteU16(kHeaderGroupCountOffset, static_cast<uint16_t>(groupCount));
    Status status = sink.Append(header.data(), static_cast<uint32_t>(header.size()));

    // The pool outlives the pipeline, whose workers hand it pieces.
    std::unique_ptr<PieceWorkers> pool;
    if (settings.compress && settings.jobs > 1)
        pool = std::make_unique<PieceWorkers>(settings.jobs, PieceEncoderOf(settings));
    std::unique_ptr<PreparePipeline> pipeline;
    if (settings.compress && settings.jobs > 1 && entries.size() > 1)
        pipeline = std::make_unique<PreparePipeline>(plan, entries, settings, pool.get());
    size_t index = 0;
    uint64_t done = 0;
    for (uint32_t g = 0; status && g < groupCount; ++g) {
        const PlannedGroup& group = *groups[g];
        const uint32_t nameLength = static_cast<uint32_t>(group.name.size());
        const uint32_t count = static_cast<uint32_t>(group.entries.size());
        const uint64_t groupOffset = sink.Size();
        std::vector<uint8_t> record(GroupRecordSize(nameLength, count), 0);
        ByteSpan recordSpan(record.data(), static_cast<uint32_t>(record.size()));
        recordSpan.WriteU16(kGroupSignatureOffset, kGroupSignature);
        recordSpan.WriteU16(kGroupNameLengthOffset, static_cast<uint16_t>(nameLength));
        recordSpan.WriteBytes(kGroupNameOffset, group.name.data(), nameLength);
        recordSpan.WriteU16(kGroupNameOffset + StoredNameSize(nameLength), static_cast<uint16_t>(count));
        const uint32_t tableOffset = kGroupNameOffset + StoredNameSize(nameLength) + 2;
        if (groupOffset + record.size() > kMaxPackageSize)
            return Status::Error(kErrorInvalidParameter, kLayoutRefusal);
        headerSpan.WriteU32(kHeaderGroupTableOffset + kTableSlotSize * g, static_cast<uint32_t>(groupOffset));
        status = sink.Append(record.data(), static_cast<uint32_t>(record.size()));
        for (uint32_t j = 0; status && j < count; ++j, ++index) {
            const PlannedEntry& entry = group.entries[j];
            recordSpan.WriteU32(tableOffset + kTableSlotSize * j, static_cast<uint32_t>(sink.Size() - groupOffset));
            // Without a pipeline, an entry is compressed straight into the
            // sink; with one, so is an entry split into pieces.
            std::unique_ptr<PreparedEntry> prepared =
                pipeline ? pipeline->Take(index) : Open(plan, entry, settings);
            status = prepared->status;
            if (status && (pipeline ? prepared->compressAtWrite : WillCompress(settings, *prepared))) {
                status = CompressIntoSink(entry, *prepared, settings, pool.get(), sink, progress, done, stats);
            } else {
                stats->warnings.insert(stats->warnings.end(), prepared->warnings.begin(), prepared->warnings.end());
                if (status)
                    status = AppendEntry(entry, *prepared, sink, progress, done, stats);
            }
            done += entry.size;
            if (status && progress)
                progress(done);
        }
        if (status)
            status = sink.Patch(groupOffset, record.data(), static_cast<uint32_t>(record.size()));
    }
    if (status)
        status = sink.Patch(0, header.data(), static_cast<uint32_t>(header.size()));
    if (status)
        status = sink.Finish();
    return status;
}

Status BuildPackageImage(const PackagePlan& plan, bool compress, MappedFile& image, const ByteProgress& progress,
                         WriteStats* stats)
{
    MemorySink sink;
    WriteSettings settings;
    settings.compress = compress;
    Status status = WritePackage(plan, settings, sink, progress, stats);
    if (!status)
        return status;
    const std::vector<uint8_t>& bytes = sink.Bytes();
    if (!image.CreateMemory(nullptr, static_cast<uint32_t>(bytes.size()), 0))
        return SystemFailure(GetLastErrorValue(), "cannot build the package image");
    std::memcpy(image.GetData(), bytes.data(), bytes.size());
    return Status::Ok();
}
