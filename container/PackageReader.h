// Direct read-only access to a container file or image: listing, reading and extracting entries.
//
// The container is a file mapped whole, read-only, or bytes the caller holds.
// Open walks it once (ContainerWalker, kRead: magic, version exactly 0x0200,
// the signature of every group, and every range) and keeps what the walk
// found, so no later operation parses the image again. Group and entry names
// are looked up ignoring case (CompareNoCase); the first match in table order
// wins, and a group whose name equals an earlier group's ignoring case is
// never reached by name.
// Every operation but construction, Open and destruction answers with its
// failure value when the reader is closed. Extraction shares its rules with
// the package interface (WriteEntryFile): overwrite modes, failure callback,
// times and attributes, and names that are not bare file names never written.
#pragma once

#include <cstdint>
#include <vector>

#include "CString.h"
#include "CStringArray.h"
#include "ContainerWalker.h"
#include "EntryExtraction.h"
#include "MappedFile.h"
#include "Status.h"

class PackageReader {
public:
    PackageReader() = default;
    ~PackageReader() = default;
    PackageReader(const PackageReader&) = delete;
    PackageReader& operator=(const PackageReader&) = delete;

    // Maps path read-only and validates it; keeps callback and userValue for
    // Extract. 1 when open. 0 when the reader is already open (it stays on its
    // container), the file cannot be mapped (last-error from the mapping) or
    // it is not a valid container (mapping released; last-error untouched).
    int Open(const char* path, ExtractFailureCallback callback = nullptr, void* userValue = nullptr);
    // As Open(path) over size bytes at image that the caller holds. They are
    // neither copied nor owned: they must stay alive and unchanged for as long
    // as the reader lives (there is no way to close it earlier). 1 when open;
    // 0 when the reader is already open or the bytes are not a valid container
    // (last-error untouched). GetPath() stays empty.
    int Open(const uint8_t* image, uint32_t size, ExtractFailureCallback callback = nullptr,
             void* userValue = nullptr);
    int IsOpen() const { return open_; }
    const CString& GetPath() const { return path_; }
    // The walker's verdict on the container the last Open walked: Ok when it
    // was accepted (or no container was walked yet), else the diagnosis of
    // why it was refused.
    const Status& GetOpenStatus() const { return openStatus_; }

    // The header's entry total, or -1 when closed.
    int GetEntryTotal() const;
    // Appends every group name in table order; 0 when closed, else 1.
    int ListGroups(CStringArray& names) const;
    // Appends the name of every file entry of the group in order; 0 when
    // closed or the group is not found, else 1.
    int ListEntries(const char* group, CStringArray& names) const;
    // The entry's uncompressed size; 0 when closed or not found. A null group
    // searches every group (first hit in table order).
    uint32_t GetEntrySize(const char* entryName, const char* group) const;
    // The largest uncompressed size among the group's file entries (every one
    // of them, also those a same-named earlier entry hides); 0 when closed,
    // the group is not found or has none. Linear in the group's entries.
    uint32_t GetLargestEntrySize(const char* group) const;

    // Creates output (which must be closed) as a memory block of the entry's
    // uncompressed size holding its content, decoded when stored compressed.
    // 1 on success. 0 when closed, not found, the size is 0 or the block
    // cannot be created; 0 with last-error 13 (output left closed) when the
    // compressed stream is faulty, does not decode to exactly the size, or is
    // too short to decode to it at all (checked before the block is made).
    int ReadEntry(const char* entryName, const char* group, MappedFile& output) const;
    // The entry's content copied to destination: the byte count; 0 when
    // capacity is smaller than the entry; -1 when the entry cannot be read.
    int ReadEntryToBuffer(const char* entryName, const char* group, void* destination, uint32_t capacity) const;

    // Writes the entry to destinationFolder under destinationName, or under
    // entryName as the caller spelled it. Existing files are judged by mode
    // (OverwriteMode). 1 when written or kept; 0 when closed, not found or
    // unreadable (see ReadEntry), for a name that is not a bare file name
    // (last-error 123), a path beyond 259 bytes (206) or a failed write; when
    // the destination cannot be created and differs from the entry, the
    // callback's answer (0 without a callback).
    int Extract(const char* entryName, const char* group, const char* destinationFolder,
                const char* destinationName, int mode);
    // Extracts every file entry of the group under its own name; failures are
    // passed over. 1, or 0 when closed.
    int ExtractGroup(const char* group, const char* destinationFolder, int mode);
    // Extracts every group in table order with mode 0. 1, or 0 when closed.
    int ExtractAll(const char* destinationFolder);

private:
    // Walks image; on success the reader is open on it.
    int OpenImage(const ByteView& image, ExtractFailureCallback callback, void* userValue);
    const WalkedEntry* FindEntry(const char* entryName, const char* group) const;
    int ReadRecord(const EntryRecord& entry, MappedFile& output) const;
    int ExtractRecord(const EntryRecord& entry, const char* fileName, const char* destinationFolder, int mode);
    // Extracts the entries of the group that a lookup by name can reach.
    void ExtractEntries(const WalkedGroup& group, const char* destinationFolder, int mode);

    CString path_;
    // The file of Open(path); closed for Open(image, size).
    MappedFile container_;
    ByteView image_;
    WalkedContainer contents_;
    // ReachableGroups(contents_), kept from Open.
    std::vector<bool> reachableGroups_;
    bool open_ = false;
    Status openStatus_;
    ExtractFailureCallback callback_ = nullptr;
    void* userValue_ = nullptr;
};
