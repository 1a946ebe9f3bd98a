// The package interface: one package file held as an in-memory directory.
#include "PackageHandle.h"

#include <new>

#include "EntryBuffer.h"
#include "EntryBuilder.h"
#include "LzwCodec.h"
#include "LzwIndexedDecode.h"
#include "MappedFile.h"
#include "PackageDirectory.h"

namespace {

bool IsEmptyName(const char* text) { return !text || text[0] == '\0'; }

int Fail(uint32_t code)
{
    SetLastErrorValue(code);
    return 0;
}

EntryInfo InfoOf(const EntryBuffer& entry)
{
    EntryInfo info;
    info.attributes = entry.GetAttributes();
    info.creationTime = entry.GetCreationTime();
    info.lastAccessTime = entry.GetLastAccessTime();
    info.lastWriteTime = entry.GetLastWriteTime();
    return info;
}

// A directory, or null when it cannot be allocated.
std::unique_ptr<PackageDirectory> NewDirectory()
{
    try {
        return std::unique_ptr<PackageDirectory>(new PackageDirectory);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::unique_ptr<EntryBuffer> NewEntryBuffer()
{
    return std::unique_ptr<EntryBuffer>(new (std::nothrow) EntryBuffer);
}

// The entry name of group in directory; null, with 87, 21 or 2 (checked in
// that order), when there is none.
const EntryBuffer* FindEntryOf(const PackageDirectory* directory, const char* name, const char* group)
{
    if (IsEmptyName(group)) {
        Fail(kErrorInvalidParameter);
        return nullptr;
    }
    if (!directory) {
        Fail(kErrorNotReady);
        return nullptr;
    }
    const EntryBuffer* entry = name ? directory->FindEntry(name, group) : nullptr;
    if (!entry)
        Fail(kErrorFileNotFound);
    return entry;
}

}  // namespace

PackageHandle::PackageHandle() : directory(NewDirectory()) {}

PackageHandle::~PackageHandle() = default;

int PackageHandle::Open(const char* packagePath, int mode, ExtractFailureCallback callback, void* data,
                        int32_t builderOption)
{
    SetLastErrorValue(kErrorSuccess);
    if (mode < kCreateNew || mode > kOpenAlways || !packagePath)
        return Fail(kErrorInvalidParameter);
    if (!directory) {
        directory = NewDirectory();
        if (!directory)
            return Fail(kErrorOutOfMemory);
    }
    path = packagePath;
    pieceIndex = PieceIndex();
    switch (mode) {
    case kCreateNew: {
        bool exists;
        {
            // The probe must not leave its own code on a successful Open.
            LastErrorGuard keep;
            exists = PathExists(packagePath);
        }
        if (exists)
            return Fail(kErrorFileExists);
        break;
    }
    case kCreateAlways:
        break;
    default: {
        auto file = std::make_shared<MappedFile>();
        if (file->OpenShared(packagePath)) {
            // An invalid image loads nothing and the package opens empty.
            directory->LoadMapped(file);
            mapped.file = std::move(file);
            mapped.path = packagePath;
        } else if (mode == kOpenExisting) {
            return 0;
        }
        break;
    }
    }
    failureCallback = callback;
    callbackData = data;
    option = builderOption;
    return 1;
}

void PackageHandle::Close()
{
    directory.reset();
    mapped = PackageMapping();
    pieceIndex = PieceIndex();
    failureCallback = nullptr;
    callbackData = nullptr;
    path.Empty();
}

int PackageHandle::Save()
{
    if (!directory)
        return Fail(kErrorNotReady);
    return SavePackageFile(*directory, path, mapped);
}

int PackageHandle::AddFile(const char* sourcePath, const char* group)
{
    if (IsEmptyName(group))
        return Fail(kErrorInvalidParameter);
    if (!directory)
        return Fail(kErrorNotReady);
    if (!sourcePath)
        return Fail(kErrorInvalidParameter);
    MappedFile source;
    if (!source.OpenFile(sourcePath, 1, ::kOpenExisting, 0))
        return 0;
    std::unique_ptr<EntryBuffer> buffer = NewEntryBuffer();
    if (!buffer)
        return Fail(kErrorOutOfMemory);
    if (!BuildEntry(source, sourcePath, *buffer, option))
        return 0;
    source.Close();
    if (!directory->AddEntry(buffer.get(), group, FileNamePart(sourcePath), 1))
        return 0;
    buffer.release();
    return 1;
}

int PackageHandle::AddBuffer(MappedFile& source, const char* name, const char* group, const EntryInfo& info,
                             int compress)
{
    if (IsEmptyName(group) || source.IsClosed() || source.GetSize() == 0)
        return Fail(kErrorInvalidParameter);
    if (!directory)
        return Fail(kErrorNotReady);
    std::unique_ptr<EntryBuffer> buffer = NewEntryBuffer();
    if (!buffer)
        return Fail(kErrorOutOfMemory);
    const char* entryName = name ? name : "";
    if (!BuildEntry(source, entryName, *buffer, compress))
        return 0;
    buffer->SetAttributes(info.attributes);
    buffer->SetTimes(info.creationTime, info.lastAccessTime, info.lastWriteTime);
    if (!directory->AddEntry(buffer.get(), group, FileNamePart(entryName), 1))
        return 0;
    buffer.release();
    return 1;
}

int PackageHandle::RemoveEntry(const char* name, const char* group)
{
    if (IsEmptyName(group))
        return Fail(kErrorInvalidParameter);
    if (!directory)
        return Fail(kErrorNotReady);
    if (!name)
        return 0;
    return directory->RemoveEntry(name, group);
}

int PackageHandle::ListGroups(CStringArray& names)
{
    if (!directory)
        return Fail(kErrorNotReady);
    directory->ListGroups(names);
    return 1;
}

int PackageHandle::ListEntries(const char* group, CStringArray& names)
{
    if (!directory)
        return Fail(kErrorNotReady);
    directory->ListEntries(group ? group : "", names);
    return 1;
}

int PackageHandle::CountEntries(const char* group)
{
    if (!IsEmptyName(group)) {
        SetLastErrorValue(kErrorInvalidParameter);
        return -1;
    }
    if (!directory)
        return Fail(kErrorNotReady);
    return directory->GetEntryCount(nullptr);
}

int PackageHandle::GetEntryInfo(const char* name, const char* group, EntryInfo* info, uint32_t* size)
{
    const EntryBuffer* entry = FindEntryOf(directory.get(), name, group);
    if (!entry)
        return 0;
    if (info)
        *info = InfoOf(*entry);
    if (size)
        *size = entry->GetUncompressedSize();
    return 1;
}

int PackageHandle::ReadEntry(const char* name, const char* group, MappedFile& block, uint32_t minimumCapacity,
                             EntryInfo* info)
{
    const EntryBuffer* entry = FindEntryOf(directory.get(), name, group);
    if (!entry)
        return 0;
    uint32_t size = entry->GetUncompressedSize();
    if (!block.CreateMemory(nullptr, size, minimumCapacity))
        return 0;
    if (info)
        *info = InfoOf(*entry);
    const uint8_t* stored = entry->GetStoredData();
    uint32_t storedLength = entry->GetStoredLength();
    if (entry->GetCompressedSize() != 0) {
        uint32_t produced = 0;
        int wellFormed = LzwDecodeBuffer(stored, storedLength, block.GetData(), size, &produced);
        // A damaged stream must never pass for the file: a short or long
        // result would be written to disk as a truncated or altered file.
        if (!wellFormed || produced != size) {
            block.Close();
            return Fail(kErrorInvalidData);
        }
        block.Seek(static_cast<int32_t>(size), MappedFile::kBegin);
    } else {
        if (storedLength < size) {
            block.Close();
            return Fail(kErrorInvalidData);
        }
        block.Write(stored, size);
    }
    return 1;
}

int PackageHandle::ExtractEntry(const char* name, const char* group, const char* destinationFolder,
                                const char* destinationName, int overwriteMode, ProgressHook* progress,
                                WrittenEntry* written)
{
    if (written)
        *written = WrittenEntry();
    if (IsEmptyName(group))
        return Fail(kErrorInvalidParameter);
    if (!directory)
        return Fail(kErrorNotReady);
    const EntryBuffer* entry = name ? directory->FindEntry(name, group) : nullptr;
    if (!entry)
        return Fail(kErrorFileNotFound);
    // The entry is never held whole: it is written in pieces from where it is
    // stored, a compressed one decoded on the way, under a temporary name
    // until its stream has ended cleanly.
    const uint32_t size = entry->GetUncompressedSize();
    // An empty entry cannot be read into a block, and so is not extracted.
    if (size == 0)
        return 0;
    const uint8_t* stored = entry->GetStoredData();
    const uint32_t storedLength = entry->GetStoredLength();
    const EntryInfo info = InfoOf(*entry);
    const char* fileName = destinationName ? destinationName : name;
    if (entry->GetCompressedSize() == 0) {
        if (storedLength < size)
            return Fail(kErrorInvalidData);
        PlainContent content(stored, size, progress);
        return WriteEntryFile(destinationFolder, fileName, content, info, overwriteMode, failureCallback,
                              callbackData);
    }
    PackedContent content(stored, storedLength, size, progress);
    if (const IndexedStream* indexed = IndexedStreamOf(*entry))
        content.UsePieces(indexed->pieces.data(), static_cast<uint32_t>(indexed->pieces.size()));
    if (written)
        content.TakeDigest();
    const int result =
        WriteEntryFile(destinationFolder, fileName, content, info, overwriteMode, failureCallback, callbackData);
    if (written && result)
        written->digested = content.WrittenDigest(&written->digest);
    return result;
}

namespace {

// Passes decoded pieces on to the caller's sink, no further than the entry's
// size: a stream that decodes to more is faulty, not a longer file.
struct BoundedPieces {
    LzwPieceSink sink;
    void* context;
    uint32_t left;
    bool tooLong = false;
    bool refused = false;
};

bool PassBoundedPiece(const uint8_t* data, uint32_t length, void* context)
{
    BoundedPieces& pieces = *static_cast<BoundedPieces*>(context);
    if (length > pieces.left) {
        pieces.tooLong = true;
        return false;
    }
    pieces.left -= length;
    if (!pieces.sink(data, length, pieces.context)) {
        pieces.refused = true;
        return false;
    }
    return true;
}

}  // namespace

int PackageHandle::ReadEntryPieces(const char* name, const char* group, LzwPieceSink sink, void* context)
{
    if (!sink)
        return Fail(kErrorInvalidParameter);
    const EntryBuffer* entry = FindEntryOf(directory.get(), name, group);
    if (!entry)
        return 0;
    const uint32_t size = entry->GetUncompressedSize();
    const uint8_t* stored = entry->GetStoredData();
    const uint32_t storedLength = entry->GetStoredLength();
    if (entry->GetCompressedSize() == 0) {
        if (storedLength < size)
            return Fail(kErrorInvalidData);
        return size == 0 || sink(stored, size, context) ? 1 : 0;
    }
    BoundedPieces pieces{sink, context, size};
    const IndexedStream* indexed = IndexedStreamOf(*entry);
    const int decoded =
        LzwDecodeIndexed(stored, storedLength, indexed ? indexed->pieces.data() : nullptr,
                         indexed ? static_cast<uint32_t>(indexed->pieces.size()) : 0, LzwDecodeThreads(),
                         PassBoundedPiece, &pieces, nullptr);
    if (pieces.refused)
        return 0;
    if (!decoded || pieces.tooLong || pieces.left != 0)
        return Fail(kErrorInvalidData);
    return 1;
}

int PackageHandle::SetPieceIndex(const void* bytes, uint32_t size)
{
    return PieceIndex::Decode(ByteView(static_cast<const uint8_t*>(bytes), size), &pieceIndex) ? 1 : 0;
}

const IndexedStream* PackageHandle::IndexedStreamOf(const EntryBuffer& entry) const
{
    if (pieceIndex.Empty() || !mapped.file || entry.GetCompressedSize() == 0)
        return nullptr;
    // Only a stream inside the mapped file has an offset in it.
    const uintptr_t base = reinterpret_cast<uintptr_t>(mapped.file->GetData());
    const uintptr_t stored = reinterpret_cast<uintptr_t>(entry.GetStoredData());
    const uint32_t length = entry.GetStoredLength();
    const uint32_t fileSize = mapped.file->GetSize();
    if (base == 0 || stored < base || stored - base > fileSize || length > fileSize - (stored - base))
        return nullptr;
    return pieceIndex.Find(static_cast<uint32_t>(stored - base), length);
}
