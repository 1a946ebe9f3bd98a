// One container entry in its on-disk form, held in an anonymous memory block.
//
// From offset 0 the block holds exactly one entry: the 40-byte record, the name
// (max(M, 1) bytes) and the stored data. The entry's length always comes from
// the record (40 + max(M, 1) + S), never from the block's capacity. A block
// that does not hold one whole entry (closed, shorter than a record, or with a
// record that reaches past the block or a name above 259 bytes) is invalid,
// and every accessor answers for it as documented below.
//
// An entry loaded from a package file is a read-only view of that file's
// mapping (CreateView) and costs no memory of its own; the first change to it
// (SetAttributes, SetTimes, MakeWritable) copies it into its own block. Its
// bytes must not be written through GetData() while it is a view.
//
// The record is decoded once (ContainerWalker::ReadEntry) and kept. The bytes
// can change behind this class's back: through GetData(), MappedFile::Write,
// or Close and CreateMemory on the base class, as well as through the Set
// methods. Since the decoded record depends only on the block's capacity and
// its first 40 bytes, the kept record is used only while both are unchanged;
// otherwise the block is decoded again, so a getter always answers for the
// bytes as they are.
#pragma once

#include <cstdint>

#include "CString.h"
#include "ContainerFormat.h"
#include "MappedFile.h"

class EntryBuffer : public MappedFile {
public:
    EntryBuffer() = default;

    // Creates the block (capacity = length) holding a copy of one whole entry.
    // 1 on success; 0 when the block is already open, the bytes are not one
    // whole entry (last-error 13) or the block cannot be created.
    int CreateFromEntry(const uint8_t* entry, uint32_t length);

    // Makes this closed object a view of the whole entry of length bytes at
    // offset of file (an open mapping, kept open while the view lives); nothing
    // is copied. 1 on success; 0 when this object is open, the range is not
    // inside the file, or the bytes are not one whole entry (last-error 13).
    int CreateView(std::shared_ptr<const MappedFile> file, uint32_t offset, uint32_t length);
    // Copy on write: a view gets a memory block of its own holding the same
    // bytes. 1 when the bytes are now in a memory block (also when they were
    // already); 0 when this is not a view or a block, or the block cannot be
    // created (the view is kept then, with the platform's last-error).
    int MakeWritable();

    // Makes the entry a view of the same entry at offset of file (a copy of it
    // that was just written there, whose record must match). 1 on success;
    // 0, the entry left as it was, when the bytes there are not this entry.
    int MoveTo(std::shared_ptr<const MappedFile> file, uint32_t offset);

    // The decoded record; false when the block does not hold a whole entry.
    bool GetRecord(EntryRecord* record) const;
    bool IsValidEntry() const { return Record() != nullptr; }

    // Field values; 0 (or zero times) when the block does not hold a whole entry.
    uint16_t GetKind() const;
    uint32_t GetAttributes() const;
    uint32_t GetUncompressedSize() const;
    uint32_t GetCompressedSize() const;
    FileTime GetCreationTime() const;
    FileTime GetLastAccessTime() const;
    FileTime GetLastWriteTime() const;
    // Copies the name zero-terminated into a 260-byte buffer; false (buffer
    // emptied) when the block does not hold a whole entry.
    bool GetName(char (&name)[kMaxPath]) const;
    CString GetName() const;
    // The stored bytes (compressed stream or file content) and their count;
    // null and 0 when the block does not hold a whole entry.
    const uint8_t* GetStoredData() const;
    uint32_t GetStoredLength() const;
    // 40 + max(M, 1) + S, or 0 when the block does not hold a whole entry.
    uint32_t GetEntryLength() const;

    // Overwrite the record's fields, a view being copied first (MakeWritable);
    // 0 when this is not a memory block or view holding a whole entry, or the
    // copy cannot be made.
    int SetAttributes(uint32_t attributes);
    int SetTimes(const FileTime& creation, const FileTime& lastAccess, const FileTime& lastWrite);

    // The entry's bytes as a read-only range bounded by the block's capacity.
    ByteView Bytes() const { return ByteView(GetData(), IsClosed() ? 0 : GetCapacity()); }

private:
    // The record of the block as it is now, or null when it holds no whole entry.
    const EntryRecord* Record() const;

    // The last decode and what it was decoded from.
    struct Decoded {
        bool done = false;
        uint32_t capacity = 0;
        uint8_t fixed[kEntryNameOffset] = {};
        bool valid = false;
        EntryRecord record;
    };
    mutable Decoded decoded_;
};
