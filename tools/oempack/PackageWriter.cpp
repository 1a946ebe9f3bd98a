// Streams planned entries into a container: records and data in order, offset tables patched afterwards.
#include "PackageWriter.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
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

// Entries up to this size are compressed and checked wholly in memory; larger
// ones are streamed through the codec.
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
        try {
            if (done_ == 0)
                file_->Seek(0, CFile::begin);
            if (file_->Read(buffer_.get(), want) != want) {
                status_ = Failure(entry_, "cannot read", kErrorHandleEof);
                return false;
            }
        } catch (const CFileException& e) {
            status_ = Failure(entry_, "cannot read", static_cast<uint32_t>(e.m_lOsError));
            return false;
        }
        done_ += want;
        *piece = buffer_.get();
        *length = want;
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

// Compresses held bytes in one go; out.stream is set when the stream is
// shorter and decodes back.
Status CompressHeld(const PlannedEntry& entry, PreparedEntry& out)
{
    std::vector<uint8_t> stream;
    if (!LzwEncodeBuffer(out.held, out.size, &stream) || stream.empty() || stream.size() >= out.size)
        return Status::Ok();
    std::vector<uint8_t> check(out.size);
    uint32_t produced = 0;
    if (!LzwDecodeBuffer(stream.data(), static_cast<uint32_t>(stream.size()), check.data(), out.size, &produced) ||
        produced != out.size || std::memcmp(check.data(), out.held, out.size) != 0) {
        out.warnings.push_back(NoDecodeWarning(entry));
        return Status::Ok();
    }
    out.stream.reset(new SpillBuffer(std::string(), 0));
    return out.stream->Append(stream.data(), static_cast<uint32_t>(stream.size()));
}

// Feeds the encoder from a file piece by piece and collects its stream; gives
// up (ends the input early) once the stream is as long as the content.
struct EncodeFeed {
    PieceReader* reader = nullptr;
    SpillBuffer* stream = nullptr;
    uint32_t size = 0;
    const uint8_t* next = nullptr;
    const uint8_t* end = nullptr;
    bool gaveUp = false;
    Status failure;
};

int FeedByte(uint8_t* byte, void* context)
{
    auto* f = static_cast<EncodeFeed*>(context);
    if (f->next == f->end) {
        if (f->stream->Size() >= f->size) {
            f->gaveUp = true;
            return 0;
        }
        uint32_t length = 0;
        if (!f->reader->Next(&f->next, &length) || length == 0)
            return 0;
        f->end = f->next + length;
    }
    *byte = *f->next++;
    return 1;
}

int TakeStream(const uint8_t* data, uint32_t length, void* context)
{
    auto* f = static_cast<EncodeFeed*>(context);
    if (f->failure) {
        Status appended = f->stream->Append(data, length);
        if (!appended)
            f->failure = appended;
    }
    return 1;
}

// Compares the decoder's output with the source, read again.
struct DecodeCheck {
    SpillBuffer* stream = nullptr;
    PieceReader* reader = nullptr;
    const uint8_t* next = nullptr;
    const uint8_t* end = nullptr;
    bool differs = false;
    Status failure;
};

int ReadStream(uint8_t* buffer, uint32_t count, void* context)
{
    auto* c = static_cast<DecodeCheck*>(context);
    Status read = c->stream->Read(buffer, count);
    if (!read) {
        std::memset(buffer, 0, count);
        if (c->failure)
            c->failure = read;
    }
    return 1;
}

int CompareByte(uint8_t value, void* context)
{
    auto* c = static_cast<DecodeCheck*>(context);
    if (c->differs)
        return 1;
    if (c->next == c->end) {
        uint32_t length = 0;
        if (!c->reader->Next(&c->next, &length) || length == 0) {
            c->differs = true;
            return 1;
        }
        c->end = c->next + length;
    }
    if (*c->next++ != value)
        c->differs = true;
    return 1;
}

// Compresses a large file through the codec in pieces; out.stream is set when
// the stream is shorter and decodes back.
Status CompressStreamed(const PlannedEntry& entry, const WriteSettings& settings, PreparedEntry& out)
{
    auto stream = std::make_unique<SpillBuffer>(settings.spillFolder, kSpillMemoryLimit);
    {
        PieceReader reader(entry, out.file.get(), nullptr, out.size);
        EncodeFeed feed;
        feed.reader = &reader;
        feed.stream = stream.get();
        feed.size = out.size;
        LzwEncoder encoder;
        const int coded = encoder.Compress(out.size, FeedByte, TakeStream, &feed, kLzwChunkSize);
        if (!reader.status())
            return reader.status();
        if (!feed.failure)
            return feed.failure;
        if (!coded || feed.gaveUp)
            return Status::Ok();
        encoder.Finish(TakeStream, &feed);
        if (!feed.failure)
            return feed.failure;
    }
    if (stream->Size() == 0 || stream->Size() >= out.size)
        return Status::Ok();
    Status rewound = stream->Rewind();
    if (!rewound)
        return rewound;
    PieceReader reader(entry, out.file.get(), nullptr, out.size);
    DecodeCheck check;
    check.stream = stream.get();
    check.reader = &reader;
    LzwDecoder decoder;
    const int decoded = decoder.Decompress(static_cast<uint32_t>(stream->Size()), ReadStream, CompareByte, &check,
                                           kLzwChunkSize, out.size);
    if (!reader.status())
        return reader.status();
    if (!check.failure)
        return check.failure;
    if (!decoded || check.differs || decoder.GetOutputLength() != out.size || check.next != check.end) {
        out.warnings.push_back(NoDecodeWarning(entry));
        return Status::Ok();
    }
    out.stream = std::move(stream);
    return Status::Ok();
}

// Everything about one entry that can be done before its turn to be written.
std::unique_ptr<PreparedEntry> Prepare(const PackagePlan& plan, const PlannedEntry& entry,
                                       const WriteSettings& settings)
{
    auto out = std::make_unique<PreparedEntry>();
    out->status = OpenEntry(plan, entry, *out);
    if (!out->status || !settings.compress || out->size == 0)
        return out;
    if (out->size <= kWholeEntryLimit) {
        out->status = HoldWhole(entry, *out);
        if (out->status)
            out->status = CompressHeld(entry, *out);
    } else {
        out->status = CompressStreamed(entry, settings, *out);
    }
    return out;
}

// Prepares entries on worker threads, at most one per job ahead of the
// writer (so memory is bounded by the jobs, not the package), and hands them
// over in order.
class PreparePipeline {
public:
    PreparePipeline(const PackagePlan& plan, const std::vector<const PlannedEntry*>& entries,
                    const WriteSettings& settings)
        : plan_(plan), entries_(entries), settings_(settings), ready_(entries.size())
    {
        window_ = settings.jobs;
        for (unsigned i = 0; i < settings.jobs; ++i)
            workers_.emplace_back([this] { Work(); });
    }
    ~PreparePipeline()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
    }
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
            std::unique_ptr<PreparedEntry> prepared = Prepare(plan_, *entries_[index], settings_);
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
    PieceReader reader(entry, prepared.file.get(), prepared.held, prepared.size);
    uint32_t done = 0;
    while (done < prepared.size) {
        const uint8_t* piece = nullptr;
        uint32_t length = 0;
        if (!reader.Next(&piece, &length))
            return reader.status();
        const Status appended = sink.Append(piece, length);
        if (!appended)
            return appended;
        done += length;
        if (progress)
            progress(base + done);
    }
    return Status::Ok();
}

void WriteTime(ByteSpan& record, uint32_t offset, const FileTime& time)
{
    record.WriteU32(offset, time.lowDateTime);
    record.WriteU32(offset + 4, time.highDateTime);
}

// Appends the entry's record, name and data.
Status AppendEntry(const PlannedEntry& entry, PreparedEntry& prepared, ByteSink& sink,
                   const ByteProgress& progress, uint64_t base, WriteStats* stats)
{
    const uint32_t nameLength = static_cast<uint32_t>(entry.name.size());
    const uint64_t storedLength = prepared.stream ? prepared.stream->Size() : prepared.size;
    if (sink.Size() + EntrySize(nameLength, 0) + storedLength > kMaxPackageSize)
        return Status::Error(kErrorInvalidParameter, kLayoutRefusal);
    uint8_t head[kEntryNameOffset + kMaxNameLength] = {};
    ByteSpan record(head, sizeof head);
    record.WriteU16(kEntryKindOffset, kFileEntryKind);
    record.WriteU32(kEntryAttributesOffset, prepared.attributes);
    record.WriteU32(kEntryUncompressedSizeOffset, prepared.size);
    record.WriteU32(kEntryCompressedSizeOffset, prepared.stream ? static_cast<uint32_t>(storedLength) : 0);
    WriteTime(record, kEntryCreationTimeOffset, prepared.times[0]);
    WriteTime(record, kEntryLastAccessTimeOffset, prepared.times[1]);
    WriteTime(record, kEntryLastWriteTimeOffset, prepared.times[2]);
    record.WriteU16(kEntryNameLengthOffset, static_cast<uint16_t>(nameLength));
    record.WriteBytes(kEntryNameOffset, entry.name.data(), nameLength);
    Status status = sink.Append(head, kEntryNameOffset + StoredNameSize(nameLength));
    if (status)
        status = AppendData(entry, prepared, sink, progress, base);
    if (!status)
        return status;
    stats->sourceBytes += prepared.size;
    stats->storedBytes += storedLength;
    if (prepared.stream)
        ++stats->compressedEntries;
    ++stats->entries;
    return Status::Ok();
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

    std::unique_ptr<PreparePipeline> pipeline;
    if (settings.compress && settings.jobs > 1 && entries.size() > 1)
        pipeline = std::make_unique<PreparePipeline>(plan, entries, settings);
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
            std::unique_ptr<PreparedEntry> prepared =
                pipeline ? pipeline->Take(index) : Prepare(plan, entry, settings);
            stats->warnings.insert(stats->warnings.end(), prepared->warnings.begin(), prepared->warnings.end());
            status = prepared->status;
            if (status)
                status = AppendEntry(entry, *prepared, sink, progress, done, stats);
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
