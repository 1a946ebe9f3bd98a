// The programming interface to one package file: open, edit, save, list, read and extract.
//
// Every operation returns a plain integer and, on the failures it detects
// itself, sets the thread's last-error value:
//   0   ERROR_SUCCESS          at the start of every Open
//   2   ERROR_FILE_NOT_FOUND   the entry is not in the group (GetEntryInfo, ReadEntry, ReadEntryPieces,
//                              ExtractEntry)
//   13  ERROR_INVALID_DATA     a compressed entry's stream is faulty (ReadEntry, ReadEntryPieces, ExtractEntry)
//   14  ERROR_OUTOFMEMORY      the directory (Open) or an entry (AddFile, AddBuffer) cannot be allocated
//   21  ERROR_NOT_READY        the handle has no directory (after Close); checked after the argument checks
//   80  ERROR_FILE_EXISTS      Open in mode 0 and a file exists at the path
//   87  ERROR_INVALID_PARAMETER bad Open mode; null or empty group; empty AddBuffer source;
//                              CountEntries with a group name
//   123 ERROR_INVALID_NAME     ExtractEntry to a name that is not a bare file name
//   206 ERROR_FILENAME_EXCED_RANGE  ExtractEntry to a path longer than 259 bytes
// Where the operating system fails (open, map, create), its own code is left.
//
// Group names are compared exactly, case included; entry names ignoring case.
// Changes live in memory until Save; no other operation writes the package file.
#pragma once

#include <cstdint>
#include <memory>

#include "CString.h"
#include "CStringArray.h"
#include "EntryExtraction.h"
#include "LzwCodec.h"
#include "PackageFileSave.h"
#include "PieceIndex.h"

class EntryBuffer;
class MappedFile;
class PackageDirectory;

// What ExtractEntry wrote, for checking the file later without decoding the
// entry again.
struct WrittenEntry {
    // Whether digest holds the SHA-256 of the entry's decoded bytes, taken as
    // this call wrote them: only for a compressed entry that it wrote out in
    // full (not one the overwrite rule kept, or left to the failure callback).
    bool digested = false;
    Sha256Digest digest{};
};

class PackageHandle {
public:
    // Open modes.
    enum { kCreateNew = 0, kCreateAlways = 1, kOpenExisting = 2, kOpenAlways = 3 };

    // Allocates an empty directory (left null when that fails; Open retries).
    PackageHandle();
    ~PackageHandle();
    PackageHandle(const PackageHandle&) = delete;
    PackageHandle& operator=(const PackageHandle&) = delete;

    // Modes 0 create new (80 when a file exists), 1 create always (the file is
    // replaced only by Save), 2 open existing (loads the file; fails with the
    // system's error when it cannot be mapped), 3 open always (as 2, but an
    // unmappable file leaves the package empty). A file that is not a valid
    // container loads nothing and still opens. Loading adds to entries already
    // held. The file stays mapped read-only until Close: its entries are
    // views of it, copied only when changed. Others may read it (and rename
    // it) meanwhile, not write it. 1 on success, 0 on failure.
    int Open(const char* path, int mode, ExtractFailureCallback failureCallback = nullptr,
             void* callbackData = nullptr, int32_t option = 0);
    // Drops the directory, the callback and the path, and unmaps the file; writes nothing.
    void Close();
    // Writes the whole package to the path given to Open (SavePackageFile: a
    // new file beside it replaces it when complete; the path itself is never
    // written, and a failed save leaves it as it was). 1 on success; 0 with 21
    // when closed, 87 when the package cannot be written as a container, or
    // the system's error when the file cannot be written or put in place.
    int Save();

    // Adds the file at sourcePath (read-only mapping) to group under its file
    // name, replacing an entry of that name (ignoring case). 87 for a null or
    // empty group, 21 when closed, 14 when the entry cannot be allocated, the
    // system's error when the file cannot be mapped.
    int AddFile(const char* sourcePath, const char* group);
    // Adds the bytes of source (from offset 0, GetSize bytes) under the file-name
    // part of name, with the attributes and times of info. 87 for a null or empty
    // group or an empty source; otherwise as AddFile. compress is ignored.
    int AddBuffer(MappedFile& source, const char* name, const char* group, const EntryInfo& info, int compress);
    // 1 when the entry was removed; 0 when the group or entry does not exist
    // (no last-error then), 87 for a null or empty group, 21 when closed.
    int RemoveEntry(const char* name, const char* group);

    // Appends every group name to names (not cleared). 0 with 21 when closed.
    int ListGroups(CStringArray& names);
    // Appends every entry name of group; 1 also for a missing group. 21 when closed.
    int ListEntries(const char* group, CStringArray& names);
    // Entries over all groups; -1 with 87 for a non-empty group name; 0 with 21
    // when closed.
    int CountEntries(const char* group);
    // Fills info and size (uncompressed) when not null. 87, 21, 2.
    int GetEntryInfo(const char* name, const char* group, EntryInfo* info, uint32_t* size);
    // Creates block (which must be closed) as a memory block of
    // max(uncompressed size, minimumCapacity) bytes and fills it with the
    // entry's decoded bytes. 87, 21, 2; 0 when the block cannot be created (an
    // empty entry, a block already open); 0 with 13 when a compressed entry does
    // not decode to exactly its uncompressed size (the block is closed again).
    int ReadEntry(const char* name, const char* group, MappedFile& block, uint32_t minimumCapacity,
                  EntryInfo* info);
    // Writes the entry to destinationFolder + (destinationName, or name as the
    // caller spelled it), applying overwriteMode (see WriteEntryFile). The
    // entry is checked first (a faulty compressed stream: 13, nothing
    // touched) and then written in pieces, decoded on the way; it is held
    // whole in memory only for a version comparison or the failure callback.
    // An empty entry is not extracted (0, last-error untouched). 87, 21, 2,
    // 13, 123, 206; 1 also when the overwrite rule keeps the existing file;
    // the failure callback's result when the destination cannot be created.
    // progress (when given) is told of every piece decoded or written;
    // written (when given) receives what was written (WrittenEntry).
    int ExtractEntry(const char* name, const char* group, const char* destinationFolder,
                     const char* destinationName, int overwriteMode, ProgressHook* progress = nullptr,
                     WrittenEntry* written = nullptr);
    // Hands the entry's decoded bytes to sink in order, without holding them
    // whole: a stored entry as one view of the package, a compressed one
    // decoded in pieces of at most kLzwPieceSize. An empty entry gives no
    // piece. 1 when exactly the entry's bytes were handed over; 0 when sink
    // returned false (last-error untouched); 87, 21, 2; 13 when the entry's
    // data is faulty (pieces before the fault may have been handed over).
    int ReadEntryPieces(const char* name, const char* group, LzwPieceSink sink, void* context);

    // Takes the piece index of the package file (PieceIndex.h) that came with
    // it: ExtractEntry and ReadEntryPieces then decode the pieces of a split
    // entry it names (by the stream's offset in the file and its length) on
    // every processor, to the same bytes. 1 when the index was read; 0 when
    // it is malformed (the handle then has none; last-error untouched).
    // Close and Open drop it.
    int SetPieceIndex(const void* bytes, uint32_t size);

private:
    // The pieces of entry's stream in the index, or null (none, or the entry
    // is not a view of the package file).
    const IndexedStream* IndexedStreamOf(const EntryBuffer& entry) const;

    std::unique_ptr<PackageDirectory> directory;
    // The package file the entries view (each of them holds it too).
    PackageMapping mapped;
    CString path;
    PieceIndex pieceIndex;
    ExtractFailureCallback failureCallback = nullptr;
    void* callbackData = nullptr;
    int32_t option = 0;
};
