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

// A copy of built's record and name with new sizes and new stored bytes.
bool RebuildEntry(const EntryBuffer& built, uint32_t uncompressedSize, uint32_t compressedSize,
                  const uint8_t* stored, uint32_t storedLength, EntryBuffer& target)
{
    EntryRecord record;
    if (!built.GetRecord(&record))
        return false;
    const uint32_t prefix = kEntryNameOffset + StoredNameSize(record.nameLength);
    const uint64_t length = uint64_t{prefix} + storedLength;
    if (length > 0xFFFFFFFFull)
        return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    ByteSpan span(bytes.data(), static_cast<uint32_t>(length));
    if (!span.WriteBytes(0, built.GetData(), prefix) || !span.WriteBytes(prefix, stored, storedLength) ||
        !span.WriteU32(kEntryUncompressedSizeOffset, uncompressedSize) ||
        !span.WriteU32(kEntryCompressedSizeOffset, compressedSize))
        return false;
    return target.CreateFromEntry(bytes.data(), static_cast<uint32_t>(length)) != 0;
}

std::string Failure(const PlannedEntry& entry, const char* what, uint32_t code)
{
    const std::string& source = entry.inMemory ? entry.name : entry.sourcePath;
    return source + ": " + what + ": " + SystemErrorText(code);
}

// An empty file cannot be mapped: its entry is built from a one-byte block
// and then cut to no data, with the file's own times.
bool BuildEmptyFileEntry(const PlannedEntry& entry, EntryBuffer& target, std::string* error)
{
    CFile file;
    CFileException cause;
    if (!file.Open(entry.sourcePath.c_str(), CFile::modeRead | CFile::shareDenyNone, &cause)) {
        *error = Failure(entry, "cannot open", static_cast<uint32_t>(cause.m_lOsError));
        return false;
    }
    FileTime creation, lastAccess, lastWrite;
    if (!GetHandleTimes(file.GetHandle(), &creation, &lastAccess, &lastWrite)) {
        *error = Failure(entry, "cannot read its times", GetLastErrorValue());
        return false;
    }
    MappedFile one;
    EntryBuffer scratch;
    if (!one.CreateMemory(nullptr, 1, 1) || !BuildEntry(one, entry.name.c_str(), scratch, 0) ||
        !RebuildEntry(scratch, 0, 0, nullptr, 0, target) || !target.SetTimes(creation, lastAccess, lastWrite)) {
        *error = Failure(entry, "cannot build its entry", GetLastErrorValue());
        return false;
    }
    uint32_t attributes = GetPathAttributes(entry.sourcePath.c_str());
    target.SetAttributes(attributes == kInvalidFileAttributes ? 0 : attributes);
    return true;
}

bool BuildPlainEntry(const PlannedEntry& entry, EntryBuffer& target, std::string* error)
{
    if (entry.inMemory) {
        MappedFile block;
        const uint32_t size = static_cast<uint32_t>(entry.content.size());
        if (size == 0) {
            // A memory block cannot be empty: build from one byte and cut it.
            EntryBuffer scratch;
            if (!block.CreateMemory(nullptr, 1, 1) || !BuildEntry(block, entry.name.c_str(), scratch, 0) ||
                !RebuildEntry(scratch, 0, 0, nullptr, 0, target)) {
                *error = Failure(entry, "cannot build its entry", GetLastErrorValue());
                return false;
            }
        } else if (!block.CreateMemory(nullptr, size, size) || block.Write(entry.content.data(), size) != size ||
                   !BuildEntry(block, entry.name.c_str(), target, 0)) {
            *error = Failure(entry, "cannot build its entry", GetLastErrorValue());
            return false;
        }
        target.SetAttributes(kFileAttributeArchive);
        return true;
    }
    MappedFile source;
    if (!source.OpenFile(entry.sourcePath.c_str(), 1, kOpenExisting, 0)) {
        uint32_t code = GetLastErrorValue();
        // A file that became empty since it was listed maps to nothing.
        if (code == kErrorFileInvalid)
            return BuildEmptyFileEntry(entry, target, error);
        *error = Failure(entry, "cannot read", code);
        return false;
    }
    // The name (not the path) goes to the builder: the name is checked as a
    // whole, while the builder would cut a path at any separator byte.
    if (!BuildEntry(source, entry.name.c_str(), target, 0)) {
        *error = Failure(entry, "cannot build its entry", GetLastErrorValue());
        return false;
    }
    uint32_t attributes = GetPathAttributes(entry.sourcePath.c_str());
    target.SetAttributes(attributes == kInvalidFileAttributes ? 0 : attributes);
    return true;
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

}  // namespace

bool BuildDirectory(const PackagePlan& plan, bool compress, PackageDirectory& directory,
                    const ByteProgress& progress, WriteStats* stats, std::string* error)
{
    uint64_t done = 0;
    for (const PlannedGroup& group : plan.Groups()) {
        for (const PlannedEntry& entry : group.entries) {
            auto buffer = std::make_unique<EntryBuffer>();
            if (!BuildPlainEntry(entry, *buffer, error))
                return false;
            if (compress && CompressEntry(entry, buffer, progress, done, stats))
                ++stats->compressedEntries;
            stats->sourceBytes += buffer->GetUncompressedSize();
            stats->storedBytes += buffer->GetStoredLength();
            if (!directory.AddEntry(buffer.get(), group.name.c_str(), entry.name.c_str(), 1)) {
                *error = Failure(entry, "cannot add its entry", GetLastErrorValue());
                return false;
            }
            buffer.release();  // the group owns it now
            ++stats->entries;
            done += entry.size;
            if (progress)
                progress(done);
        }
    }
    return true;
}

bool BuildPackageImage(const PackagePlan& plan, bool compress, MappedFile& image, const ByteProgress& progress,
                       WriteStats* stats, std::string* error)
{
    if (!compress && plan.UncompressedImageSize() > kMaxPackageSize) {
        *error = "the package would be " + std::to_string(plan.UncompressedImageSize()) +
                 " bytes; a package must stay below 4 GiB";
        return false;
    }
    PackageDirectory directory;
    if (!BuildDirectory(plan, compress, directory, progress, stats, error))
        return false;
    if (directory.GetImageSize() == 0) {
        *error = "the package cannot be laid out: it would reach 4 GiB or exceed 65535 entries";
        return false;
    }
    if (!BuildContainerImage(directory, image)) {
        *error = "cannot build the package image: " + SystemErrorText(GetLastErrorValue());
        return false;
    }
    return true;
}
