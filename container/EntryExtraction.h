// Writing one decoded package entry to disk: overwrite rules, failure callback, times and attributes.
//
// Shared by every reader of packages (the package interface and the direct
// container reader), so that both apply the same rules in the same way.
#pragma once

#include <cstdint>

#include "LzwCodec.h"
#include "Sha256.h"
#include "SystemApi.h"

// Whether an existing destination file is kept. Any other value always writes.
enum OverwriteMode : int {
    kOverwriteAlways = 0,          // no comparison; write
    kOverwriteIfNewerTime = 1,     // keep when the file's last-write time >= the entry's
    kOverwriteIfNewerVersion = 2,  // keep when the file's version >= the entry's
    kOverwriteIfNewerVersionThenTime = 3,  // keep when version newer, or equal and time >= entry's
};

// An entry's attributes and times (Win32 attribute bits, FILETIMEs).
struct EntryInfo {
    uint32_t attributes;
    FileTime creationTime;
    FileTime lastAccessTime;
    FileTime lastWriteTime;
};

// Handed to the failure callback when the destination cannot be created. The
// record, the path and the data live only for the duration of the call.
struct ExtractFailureInfo {
    const char* path;       // full destination path
    uint32_t error;         // last-error value of the failed create
    const uint8_t* data;    // the entry's decoded bytes
    uint32_t size;          // number of those bytes
    FileTime creationTime;  // the entry's times and attributes
    FileTime lastAccessTime;
    FileTime lastWriteTime;
    uint32_t attributes;
};

// Returns the result the extraction reports: non-zero accepts the failure,
// 0 rejects it.
using ExtractFailureCallback = int (*)(ExtractFailureInfo* info, void* callbackData);

// 1 when name opens a Windows device rather than a file: CON, PRN, AUX, NUL,
// COM1-COM9 or LPT1-LPT9 in any case, with or without an extension, also with
// the trailing blanks and dots Windows strips ("con", "Nul.txt", "COM1 . ").
int IsWindowsDeviceName(const char* name);

// 1 when name can stand as a file name inside a folder: not empty, not "." or
// "..", without '\\', '/' or ':', and not a device name. Anything else could
// leave the folder or write into a device.
int IsBareFileName(const char* name);

// Joins folder and fileName into path (kMaxPath bytes): the folder, then the
// platform separator unless the folder already ends in one or in ':' (a bare
// drive), then the name. 1 on success. 0 with last-error
// ERROR_FILENAME_EXCED_RANGE (206) when the result does not fit; path is then
// an empty string. Null folder counts as empty.
int BuildDestinationPath(const char* folder, const char* fileName, char* path);

class CFile;
class MappedFile;
class ProgressHook;

// The decoded bytes of one entry as WriteEntryFile takes them: written to the
// destination in pieces, and held whole only when a version comparison or the
// failure callback asks for them.
class EntryContent {
public:
    virtual ~EntryContent() = default;
    // Number of decoded bytes.
    virtual uint32_t Size() const = 0;
    // The whole decoded bytes, valid while this object lives; null when they
    // cannot be had (last-error set by the failing call).
    virtual const uint8_t* Whole() = 0;
    // Writes the decoded bytes to file in order, in pieces. Throws the
    // CFileException of a failed write.
    virtual void WriteTo(CFile& file) = 0;
    // Whether the bytes are what the entry says; false with last-error
    // ERROR_INVALID_DATA (13) when they are not. Asked for only where nothing
    // is written.
    virtual bool Check() { return true; }
    // Whether WriteTo may find the content itself faulty part way (and throw
    // ERROR_INVALID_DATA): such content is written under a temporary name and
    // put in place only when complete.
    virtual bool MayFailPartWay() const { return false; }
};

// Bytes that are already there as they are: in memory, or a view of a file.
// With progress, WriteTo writes them in pieces and tells it of each.
class PlainContent : public EntryContent {
public:
    PlainContent(const uint8_t* data, uint32_t size, ProgressHook* progress = nullptr)
        : data_(data), size_(size), progress_(progress)
    {}
    uint32_t Size() const override { return size_; }
    const uint8_t* Whole() override { return data_; }
    void WriteTo(CFile& file) override;

private:
    const uint8_t* data_;
    uint32_t size_;
    ProgressHook* progress_;
};

// A compressed stream that should decode to exactly size bytes, not checked
// beforehand: WriteTo decodes it straight into the file and throws
// ERROR_INVALID_DATA at a fault (the bytes before it are written); Check
// decodes it without keeping the bytes; Whole decodes it once into a memory
// block. Each decodes at most once to learn the stream is sound. progress
// (when given) is told of every piece WriteTo and Check decode.
class PackedContent : public EntryContent {
public:
    PackedContent(const uint8_t* stream, uint32_t length, uint32_t size, ProgressHook* progress = nullptr);
    ~PackedContent() override;
    uint32_t Size() const override { return size_; }
    const uint8_t* Whole() override;
    void WriteTo(CFile& file) override;
    bool Check() override;
    bool MayFailPartWay() const override { return !sound_; }
    // Where the stream's pieces start (count of them at pieces, which must
    // outlive the content): WriteTo and Check then decode them on every
    // processor. Pieces that do not fit the stream are found out and the
    // stream decoded one code after the other: the bytes are the same.
    void UsePieces(const LzwPieceBounds* pieces, uint32_t count)
    {
        pieces_ = pieces;
        pieceCount_ = count;
    }
    // A decoding found the stream faulty (not a failed write or allocation).
    bool Damaged() const { return damaged_; }
    // WriteTo then also takes the SHA-256 of the bytes it writes, as it
    // writes them: a file found later to have that digest holds them.
    void TakeDigest() { digestWanted_ = true; }
    // The digest of what the last WriteTo wrote, when it wrote every byte and
    // the digest was asked for; false otherwise.
    bool WrittenDigest(Sha256Digest* digest) const
    {
        if (!digestTaken_)
            return false;
        *digest = digest_;
        return true;
    }

private:
    bool Damage();

    const uint8_t* stream_;
    uint32_t length_;
    uint32_t size_;
    ProgressHook* progress_;
    MappedFile* whole_ = nullptr;
    const LzwPieceBounds* pieces_ = nullptr;
    uint32_t pieceCount_ = 0;
    bool sound_ = false;
    bool damaged_ = false;
    bool digestWanted_ = false;
    bool digestTaken_ = false;
    Sha256Digest digest_{};
};

// Writes the decoded bytes of one entry to destinationFolder + fileName:
//  - fileName not a bare file name -> 0, ERROR_INVALID_NAME (123), nothing touched;
//  - the path does not fit kMaxPath -> 0, 206;
//  - an existing file is judged by overwriteMode (CompareTimes with the entry's
//    last-write time, CompareVersion with data); kept -> 1 without writing;
//  - otherwise the file is created (truncating), filled, given the entry's three
//    times, closed, and given the entry's attributes -> 1;
//  - a write that fails after the create (disk full, ...) removes the partial
//    file -> 0 with the system's error;
//  - content that may turn out faulty part way (a compressed stream) is
//    written to a temporary file beside the destination and moved over it
//    when complete, so that a fault leaves the destination as it was -> 0
//    with ERROR_INVALID_DATA (13); every outcome that writes nothing checks
//    such content first and reports 13 when it is faulty, before any other
//    reason;
//  - a destination that cannot be created is compared with the entry by times
//    (creation first, then last-write) and, only if those are equal, by
//    version. Both equal -> 1 (the file in place is the entry). Otherwise the
//    callback's result, or 0 without a callback, with the last-error value of
//    the failed create.
// size may be 0 (an empty file). Throws only std::bad_alloc.
int WriteEntryFile(const char* destinationFolder, const char* fileName, const uint8_t* data, uint32_t size,
                   const EntryInfo& info, int overwriteMode, ExtractFailureCallback callback, void* callbackData);
// The same for content that is written in pieces. Its whole bytes are asked
// for only by a version comparison or the failure callback; when they cannot
// be had, the result is 0 with that failure's last-error value.
int WriteEntryFile(const char* destinationFolder, const char* fileName, EntryContent& content,
                   const EntryInfo& info, int overwriteMode, ExtractFailureCallback callback, void* callbackData);
