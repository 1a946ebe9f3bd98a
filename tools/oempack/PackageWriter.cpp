// Builds entry buffers from files and memory, compresses them on request, and lays out the container image.
#include "PackageWriter.h"

#include <cstring>
#include <memory>

#include "ByteView.h"
#include "CFile.h"
#include "Console.h"
#include "ContainerFormat.h"
#include "EntryBuffer.h"
#include "EntryBuilder.h"
#include "LzwCodec.h"
#include "PackageDirectory.h"
#include "SystemApi.h"

namespace {

// The record of an entry named name as the entry builder makes it (kind,
// name, attributes 0), built on a single byte whose size, times and data are
// replaced afterwards.
Status BuildTemplate(const std::string& name, EntryBuffer& scratch)
{
    MappedFile one;
    if (!one.CreateMemory(nullptr, 1, 1) || !BuildEntry(one, name.c_str(), scratch, 0))
        return Status::LastError();
    return Status::Ok();
}

// target = the record and name of templ with new sizes and stored bytes, in a
// block of exactly the entry's length: the builder's own blocks reserve three
// times the source, which large installers cannot afford in a 32-bit process.
Status RebuildEntry(const EntryBuffer& templ, uint32_t uncompressedSize, uint32_t compressedSize,
                    const uint8_t* stored, uint32_t storedLength, EntryBuffer& target)
{
    EntryRecord record;
    if (!templ.GetRecord(&record))
        return Status::Error(kErrorInvalidData);
    const uint32_t prefix = kEntryNameOffset + StoredNameSize(record.nameLength);
    const uint64_t length = uint64_t{prefix} + storedLength;
    if (length > 0xFFFFFFFFull)
        return Status::Error(kErrorNotEnoughMemory);
    if (!target.CreateMemory(nullptr, static_cast<uint32_t>(length), 0))
        return Status::LastError();
    ByteSpan span(target.GetData(), target.GetCapacity());
    if (!span.WriteBytes(0, templ.GetData(), prefix) || !span.WriteBytes(prefix, stored, storedLength) ||
        !span.WriteU32(kEntryUncompressedSizeOffset, uncompressedSize) ||
        !span.WriteU32(kEntryCompressedSizeOffset, compressedSize) || !target.IsValidEntry()) {
        target.Close();
        return Status::Error(kErrorInvalidData);
    }
    return Status::Ok();
}

// A failure of entry's input, with what went wrong and the system's text for code.
Status Failure(const PlannedEntry& entry, const char* what, uint32_t code)
{
    const std::string& source = entry.inMemory ? entry.name : entry.sourcePath;
    return SystemFailure(code, source + ": " + what);
}

// An entry held in memory: archive attribute, the current time.
Status BuildMemoryEntry(const PlannedEntry& entry, EntryBuffer& target)
{
    EntryBuffer templ;
    const uint32_t size = static_cast<uint32_t>(entry.content.size());
    Status built = BuildTemplate(entry.name, templ);
    if (built)
        built = RebuildEntry(templ, size, 0, reinterpret_cast<const uint8_t*>(entry.content.data()), size, target);
    if (!built)
        return Failure(entry, "cannot build its entry", built.Code());
    target.SetAttributes(kFileAttributeArchive);
    return Status::Ok();
}

// The content and times of a file entry from a read-only mapping of its file.
Status ReadMappedFile(const PlannedEntry& entry, const MappedFile& source, const EntryBuffer& templ,
                      EntryBuffer& target, FileTime times[3])
{
    const uint32_t size = source.GetSize();
    if (!GetHandleTimes(source.GetFileHandle(), &times[0], &times[1], &times[2]))
        return Failure(entry, "cannot read its times", GetLastErrorValue());
    const Status rebuilt = RebuildEntry(templ, size, 0, source.GetData(), size, target);
    if (!rebuilt)
        return Failure(entry, "cannot build its entry", rebuilt.Code());
    return Status::Ok();
}

// A file that could not be mapped: an empty one (which no mapping can hold)
// gives an empty entry with its times; anything else is a real failure.
Status ReadUnmappedFile(const PlannedEntry& entry, uint32_t mapError, const EntryBuffer& templ,
                        EntryBuffer& target, FileTime times[3])
{
    if (mapError != kErrorFileInvalid)
        return Failure(entry, "cannot read", mapError);
    CFile file;
    CFileException cause;
    if (!file.Open(entry.sourcePath.c_str(), CFile::modeRead | CFile::shareDenyNone, &cause))
        return Failure(entry, "cannot open", static_cast<uint32_t>(cause.m_lOsError));
    if (!GetHandleTimes(file.GetHandle(), &times[0], &times[1], &times[2]))
        return Failure(entry, "cannot build its entry", GetLastErrorValue());
    const Status rebuilt = RebuildEntry(templ, 0, 0, nullptr, 0, target);
    if (!rebuilt)
        return Failure(entry, "cannot build its entry", rebuilt.Code());
    return Status::Ok();
}

// A file entry: content from a read-only mapping, times from the file, the
// attributes of its path. The name (not the path) goes to the builder: the
// name was checked as a whole, while the builder cuts at any separator byte.
Status BuildFileEntry(const PlannedEntry& entry, EntryBuffer& target)
{
    EntryBuffer templ;
    const Status built = BuildTemplate(entry.name, templ);
    if (!built)
        return Failure(entry, "cannot build its entry", built.Code());
    FileTime times[3] = {};
    MappedFile source;
    const Status read = source.OpenFile(entry.sourcePath.c_str(), 1, kOpenExisting, 0)
                            ? ReadMappedFile(entry, source, templ, target, times)
                            : ReadUnmappedFile(entry, GetLastErrorValue(), templ, target, times);
    if (!read)
        return read;
    target.SetTimes(times[0], times[1], times[2]);
    uint32_t attributes = GetPathAttributes(entry.sourcePath.c_str());
    target.SetAttributes(attributes == kInvalidFileAttributes ? 0 : attributes);
    return Status::Ok();
}

// Feeds the encoder from memory, collects its stream and passes its progress on.
struct EncodeContext {
    const uint8_t* data;
    uint32_t size;
    uint32_t position;
    std::vector<uint8_t>* stream;
    const ByteProgress* progress;
    uint64_t base;
};

int ReadSourceByte(uint8_t* byte, void* context)
{
    auto* c = static_cast<EncodeContext*>(context);
    if (c->position >= c->size)
        return 0;
    *byte = c->data[c->position++];
    return 1;
}

int AppendStream(const uint8_t* data, uint32_t length, void* context)
{
    auto* c = static_cast<EncodeContext*>(context);
    c->stream->insert(c->stream->end(), data, data + length);
    return 1;
}

void ReportEncoded(uint32_t done, uint32_t, void* context)
{
    auto* c = static_cast<EncodeContext*>(context);
    // The encoder reports every 100 bytes; a few updates per megabyte suffice.
    if (*c->progress && (done & 0x3FFFF) < 100)
        (*c->progress)(c->base + done);
}

// Replaces plain by its compressed form when the stream is shorter and decodes
// back to the same bytes. false (plain kept) otherwise; a warning when the
// stream did not decode back. progress gets base + bytes coded.
bool CompressEntry(const PlannedEntry& entry, std::unique_ptr<EntryBuffer>& plain, const ByteProgress& progress,
                   uint64_t base, WriteStats* stats)
{
    const uint32_t size = plain->GetUncompressedSize();
    const uint8_t* data = plain->GetStoredData();
    if (size == 0 || data == nullptr)
        return false;
    std::vector<uint8_t> stream;
    EncodeContext context{data, size, 0, &stream, &progress, base};
    LzwEncoder encoder;
    if (!encoder.Compress(size, ReadSourceByte, AppendStream, &context, kLzwChunkSize, ReportEncoded, &context))
        return false;
    encoder.Finish(AppendStream, &context);
    if (stream.empty() || stream.size() >= size)
        return false;
    std::vector<uint8_t> check(size);
    uint32_t produced = 0;
    if (!LzwDecodeBuffer(stream.data(), static_cast<uint32_t>(stream.size()), check.data(), size, &produced) ||
        produced != size || std::memcmp(check.data(), data, size) != 0) {
        stats->warnings.push_back((entry.inMemory ? entry.name : entry.sourcePath) +
                                  ": the compressed form did not decode back; stored uncompressed");
        return false;
    }
    auto packed = std::make_unique<EntryBuffer>();
    if (!RebuildEntry(*plain, size, static_cast<uint32_t>(stream.size()), stream.data(),
                      static_cast<uint32_t>(stream.size()), *packed))
        return false;
    plain = std::move(packed);
    return true;
}

uint64_t Ticks(const FileTime& t)
{
    return uint64_t{t.highDateTime} << 32 | t.lowDateTime;
}

// Bounds the entry's times by the plan's limit; an entry held in memory takes it.
Status ApplyTimeLimit(const PackagePlan& plan, const PlannedEntry& entry, EntryBuffer& buffer)
{
    if (!plan.HasTimeLimit())
        return Status::Ok();
    const FileTime limit = plan.TimeLimit();
    EntryRecord record;
    if (!buffer.GetRecord(&record))
        return Failure(entry, "cannot build its entry", kErrorInvalidData);
    FileTime times[3] = {record.creationTime, record.lastAccessTime, record.lastWriteTime};
    for (FileTime& t : times)
        if (entry.inMemory || Ticks(t) > Ticks(limit))
            t = limit;
    if (!buffer.SetTimes(times[0], times[1], times[2]))
        return Failure(entry, "cannot build its entry", kErrorInvalidData);
    return Status::Ok();
}

}  // namespace

Status BuildDirectory(const PackagePlan& plan, bool compress, PackageDirectory& directory,
                      const ByteProgress& progress, WriteStats* stats)
{
    uint64_t done = 0;
    for (const PlannedGroup& group : plan.Groups()) {
        for (const PlannedEntry& entry : group.entries) {
            auto buffer = std::make_unique<EntryBuffer>();
            const Status built = entry.inMemory ? BuildMemoryEntry(entry, *buffer) : BuildFileEntry(entry, *buffer);
            if (!built)
                return built;
            if (compress && CompressEntry(entry, buffer, progress, done, stats))
                ++stats->compressedEntries;
            const Status limited = ApplyTimeLimit(plan, entry, *buffer);
            if (!limited)
                return limited;
            stats->sourceBytes += buffer->GetUncompressedSize();
            stats->storedBytes += buffer->GetStoredLength();
            if (!directory.AddEntry(buffer.get(), group.name.c_str(), entry.name.c_str(), 1))
                return Failure(entry, "cannot add its entry", GetLastErrorValue());
            buffer.release();  // the group owns it now
            ++stats->entries;
            done += entry.size;
            if (progress)
                progress(done);
        }
    }
    return Status::Ok();
}

Status BuildPackageImage(const PackagePlan& plan, bool compress, MappedFile& image, const ByteProgress& progress,
                         WriteStats* stats)
{
    if (!compress && plan.UncompressedImageSize() > kMaxPackageSize)
        return Status::Error(kErrorInvalidParameter,
                             "the package would be " + std::to_string(plan.UncompressedImageSize()) +
                                 " bytes; a package must stay below 4 GiB");
    PackageDirectory directory;
    const Status built = BuildDirectory(plan, compress, directory, progress, stats);
    if (!built)
        return built;
    if (directory.GetImageSize() == 0)
        return Status::Error(kErrorInvalidParameter,
                             "the package cannot be laid out: it would reach 4 GiB or exceed 65535 entries");
    if (!BuildContainerImage(directory, image))
        return SystemFailure(GetLastErrorValue(), "cannot build the package image");
    return Status::Ok();
}
