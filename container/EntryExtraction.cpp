// Writing one decoded package entry to disk.
#include "EntryExtraction.h"

#include <cstring>
#include <memory>

#include "CFile.h"
#include "CFileException.h"
#include "FileComparison.h"
#include "LzwCodec.h"
#include "LzwIndexedDecode.h"
#include "MappedFile.h"
#include "ProgressHook.h"
#include "StagedFile.h"

namespace {

// The last character of text when it is a single-byte one, else 0.
char LastSingleByteChar(const char* text)
{
    char last = 0;
    for (const char* p = text; *p; ++p) {
        if (IsLeadByte(static_cast<uint8_t>(*p)) && p[1] != '\0') {
            ++p;
            last = 0;
        } else {
            last = *p;
        }
    }
    return last;
}

enum class Keep { kNo, kYes, kFailed };

// CompareVersion on the content's whole bytes; kFailed stands for "they cannot be had".
bool VersionOf(const char* path, EntryContent& content, const char* destinationFolder, int* version)
{
    const uint8_t* whole = content.Whole();
    if (content.Size() && !whole)
        return false;
    *version = CompareVersion(path, whole, content.Size(), destinationFolder);
    return true;
}

// Whether an existing file stays, by the overwrite rule.
Keep KeepExisting(const char* path, const char* destinationFolder, EntryContent& content, const EntryInfo& info,
                  int overwriteMode)
{
    int version = 0;
    switch (overwriteMode) {
    case kOverwriteIfNewerTime:
        return CompareTimes(path, info.creationTime, info.lastWriteTime, 1) >= 0 ? Keep::kYes : Keep::kNo;
    case kOverwriteIfNewerVersion:
        if (!VersionOf(path, content, destinationFolder, &version))
            return Keep::kFailed;
        return version >= 0 ? Keep::kYes : Keep::kNo;
    case kOverwriteIfNewerVersionThenTime:
        if (!VersionOf(path, content, destinationFolder, &version))
            return Keep::kFailed;
        if (version != 0)
            return version > 0 ? Keep::kYes : Keep::kNo;
        return CompareTimes(path, info.creationTime, info.lastWriteTime, 1) >= 0 ? Keep::kYes : Keep::kNo;
    default:
        return Keep::kNo;
    }
}

// Hands decoded pieces to the file; a failed write is kept to be thrown
// again outside the decoder.
struct FilePieces {
    CFile* file;
    Sha256* digest = nullptr;  // of the bytes written, when asked for
    bool failed = false;
    long osError = 0;
    CString fileName;
};

bool WritePiece(const uint8_t* data, uint32_t length, void* context)
{
    auto* pieces = static_cast<FilePieces*>(context);
    if (pieces->digest)
        pieces->digest->Update(data, length);
    try {
        pieces->file->WriteHuge(data, length);
    } catch (const CFileException& failure) {
        pieces->failed = true;
        pieces->osError = failure.m_lOsError;
        pieces->fileName = failure.m_strFileName;
        return false;
    }
    return true;
}

}  // namespace

int IsWindowsDeviceName(const char* name)
{
    if (!name)
        return 0;
    // Windows drops trailing blanks and dots from a name, then takes everything
    // before the first dot, less trailing blanks, as the device: "con .txt.. "
    // opens CON as surely as "CON" does.
    size_t length = std::strlen(name);
    while (length > 0 && (name[length - 1] == ' ' || name[length - 1] == '.'))
        --length;
    size_t base = 0;
    while (base < length && name[base] != '.')
        ++base;
    while (base > 0 && name[base - 1] == ' ')
        --base;
    if (base != 3 && base != 4)
        return 0;
    char word[4];
    for (size_t i = 0; i < 3; ++i) {
        char c = name[i];
        word[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    word[3] = '\0';
    if (base == 3)
        return std::strcmp(word, "CON") == 0 || std::strcmp(word, "PRN") == 0 || std::strcmp(word, "AUX") == 0 ||
               std::strcmp(word, "NUL") == 0;
    return name[3] >= '1' && name[3] <= '9' && (std::strcmp(word, "COM") == 0 || std::strcmp(word, "LPT") == 0);
}

int IsBareFileName(const char* name)
{
    if (!name || name[0] == '\0')
        return 0;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return 0;
    if (IsWindowsDeviceName(name))
        return 0;
    // Character by character: a trail byte of a two-byte character may have
    // the value of '\\' without being one.
    for (const char* p = name; *p; ++p) {
        if (IsLeadByte(static_cast<uint8_t>(*p)) && p[1] != '\0') {
            ++p;
            continue;
        }
        if (*p == '\\' || *p == '/' || *p == ':')
            return 0;
    }
    return 1;
}

int BuildDestinationPath(const char* folder, const char* fileName, char* path)
{
    if (!folder)
        folder = "";
    if (!fileName)
        fileName = "";
    size_t folderLength = std::strlen(folder);
    size_t nameLength = std::strlen(fileName);
    char last = LastSingleByteChar(folder);
    bool separator = last != kPathSeparator && last != '\\' && last != ':';
    size_t total = folderLength + (separator ? 1 : 0);
    // total + nameLength + 1 <= kMaxPath, written so that nothing can overflow.
    if (total >= static_cast<size_t>(kMaxPath) || nameLength >= static_cast<size_t>(kMaxPath) - total) {
        path[0] = '\0';
        SetLastErrorValue(kErrorFilenameExcedRange);
        return 0;
    }
    std::memcpy(path, folder, folderLength);
    if (separator)
        path[folderLength] = kPathSeparator;
    std::memcpy(path + total, fileName, nameLength);
    path[total + nameLength] = '\0';
    return 1;
}

void PlainContent::WriteTo(CFile& file)
{
    if (!progress_) {
        file.WriteHuge(data_, size_);
        return;
    }
    for (uint32_t at = 0; at < size_;) {
        const uint32_t piece = size_ - at < kLzwPieceSize ? size_ - at : kLzwPieceSize;
        file.WriteHuge(data_ + at, piece);
        at += piece;
        progress_->Advance(piece);
    }
}

PackedContent::PackedContent(const uint8_t* stream, uint32_t length, uint32_t size, ProgressHook* progress)
    : stream_(stream), length_(length), size_(size), progress_(progress)
{}

PackedContent::~PackedContent() { delete whole_; }

bool PackedContent::Damage()
{
    damaged_ = true;
    SetLastErrorValue(kErrorInvalidData);
    return false;
}

bool PackedContent::Check()
{
    if (sound_)
        return true;
    if (damaged_)
        return Damage();
    uint32_t produced = 0;
    if (!LzwDecodeIndexed(stream_, length_, pieces_, pieceCount_, LzwDecodeThreads(), nullptr, nullptr, &produced,
                          progress_) ||
        produced != size_)
        return Damage();
    sound_ = true;
    return true;
}

const uint8_t* PackedContent::Whole()
{
    if (whole_)
        return whole_->GetData();
    if (size_ == 0 || (damaged_ && !Damage()))
        return nullptr;
    std::unique_ptr<MappedFile> block(new MappedFile);
    if (!block->CreateMemory(nullptr, size_, 0))
        return nullptr;
    uint32_t produced = 0;
    if (!LzwDecodeBuffer(stream_, length_, block->GetData(), size_, &produced) || produced != size_) {
        Damage();
        return nullptr;
    }
    sound_ = true;
    whole_ = block.release();
    return whole_->GetData();
}

void PackedContent::WriteTo(CFile& file)
{
    // A write that fails leaves no digest; one tried again starts a new one.
    digestTaken_ = false;
    Sha256 digest;
    if (whole_) {
        file.WriteHuge(whole_->GetData(), size_);
        if (progress_)
            progress_->Advance(size_);
        if (digestWanted_)
            digest.Update(whole_->GetData(), size_);
    } else {
        FilePieces pieces;
        pieces.file = &file;
        if (digestWanted_)
            pieces.digest = &digest;
        uint32_t produced = 0;
        int decoded = LzwDecodeIndexed(stream_, length_, pieces_, pieceCount_, LzwDecodeThreads(), WritePiece,
                                       &pieces, &produced, progress_);
        if (pieces.failed) {
            const long code = pieces.osError;
            throw CFileException(CFileException::OsErrorToException(code), code, pieces.fileName.GetString());
        }
        if (!decoded || produced != size_) {
            Damage();
            throw CFileException(CFileException::OsErrorToException(kErrorInvalidData), kErrorInvalidData,
                                 file.GetFilePath().GetString());
        }
        sound_ = true;
    }
    if (digestWanted_) {
        digest_ = digest.Final();
        digestTaken_ = true;
    }
}

namespace {

// How writing the destination went: written, failed after it was created
// (last error set), or it could not be created (with the error of the create).
struct WriteOutcome {
    enum Kind { kWritten, kFailed, kNotCreated } kind;
    uint32_t error;
};

// Writes the content into file, gives it the entry's times and closes it;
// false with the failed write's error as last error (the file is closed).
bool FillFile(CFile& file, EntryContent& content, const EntryInfo& info)
{
    try {
        content.WriteTo(file);
        SetHandleTimes(file.GetHandle(), &info.creationTime, &info.lastAccessTime, &info.lastWriteTime);
        file.Close();
    } catch (const CFileException& failure) {
        file.Abort();
        SetLastErrorValue(static_cast<uint32_t>(failure.m_lOsError));
        return false;
    }
    return true;
}

// Creates (truncating) and fills the destination itself.
WriteOutcome WriteInPlace(const char* path, EntryContent& content, const EntryInfo& info)
{
    CFile file;
    if (!file.Open(path, CFile::modeCreate | CFile::modeWrite))
        return {WriteOutcome::kNotCreated, GetLastErrorValue()};
    if (!FillFile(file, content, info)) {
        // A partly written file must not pass for the entry.
        LastErrorGuard keep;
        DeletePath(path);
        return {WriteOutcome::kFailed, 0};
    }
    SetPathAttributes(path, info.attributes);
    return {WriteOutcome::kWritten, 0};
}

// Fills a temporary file beside the destination and moves it over the
// destination when the content was sound to its end. Whatever the stage
// cannot do (the destination would not open for writing, no temporary file,
// no move) goes the way of WriteInPlace, once the content is checked, so that
// results and errors stay those of writing the destination itself.
WriteOutcome WriteStaged(const char* path, bool exists, EntryContent& content, const EntryInfo& info)
{
    if (exists) {
        // Creating over a hidden or system file fails; so must this. Opening
        // without truncation finds every other reason (read-only, in use, a
        // folder) and leaves the file as it is.
        const uint32_t attributes = GetPathAttributes(path);
        if (attributes != kInvalidFileAttributes && (attributes & (kFileAttributeHidden | kFileAttributeSystem)))
            return {WriteOutcome::kNotCreated, kErrorAccessDenied};
        CFile probe;
        if (!probe.Open(path, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite))
            return {WriteOutcome::kNotCreated, GetLastErrorValue()};
    }
    StagedFile staged;
    CFile file;
    if (staged.Begin(path) != StagedFileRefusal::kNone ||
        !file.Open(staged.TemporaryPath().c_str(), CFile::modeCreate | CFile::modeWrite)) {
        if (!content.Check())
            return {WriteOutcome::kFailed, 0};
        return WriteInPlace(path, content, info);
    }
    // On failure the temporary file goes with staged, keeping the error.
    if (!FillFile(file, content, info))
        return {WriteOutcome::kFailed, 0};
    if (!staged.Commit())
        return WriteInPlace(path, content, info);
    SetPathAttributes(path, info.attributes);
    return {WriteOutcome::kWritten, 0};
}

// 0 with error, unless the content is faulty: then 0 with ERROR_INVALID_DATA.
int Refuse(EntryContent& content, uint32_t error)
{
    if (content.Check())
        SetLastErrorValue(error);
    return 0;
}

}  // namespace

int WriteEntryFile(const char* destinationFolder, const char* fileName, const uint8_t* data, uint32_t size,
                   const EntryInfo& info, int overwriteMode, ExtractFailureCallback callback, void* callbackData)
{
    PlainContent content(data, size);
    return WriteEntryFile(destinationFolder, fileName, content, info, overwriteMode, callback, callbackData);
}

int WriteEntryFile(const char* destinationFolder, const char* fileName, EntryContent& content,
                   const EntryInfo& info, int overwriteMode, ExtractFailureCallback callback, void* callbackData)
{
    if (!IsBareFileName(fileName))
        return Refuse(content, kErrorInvalidName);
    char path[kMaxPath];
    if (!BuildDestinationPath(destinationFolder, fileName, path))
        return Refuse(content, GetLastErrorValue());

    const bool exists = PathExists(path);
    if (exists) {
        Keep keep = KeepExisting(path, destinationFolder, content, info, overwriteMode);
        if (keep == Keep::kFailed)
            return 0;
        if (keep == Keep::kYes)
            return content.Check() ? 1 : 0;
    }

    const WriteOutcome outcome = content.MayFailPartWay() ? WriteStaged(path, exists, content, info)
                                                          : WriteInPlace(path, content, info);
    if (outcome.kind == WriteOutcome::kWritten)
        return 1;
    if (outcome.kind == WriteOutcome::kFailed)
        return 0;

    const uint32_t error = outcome.error;
    if (!content.Check())
        return 0;
    int times = CompareTimes(path, info.creationTime, info.lastWriteTime, 0);
    int version = 0;
    if (times == 0 && !VersionOf(path, content, destinationFolder, &version))
        return 0;
    if (times == 0 && version == 0)
        return 1;
    if (!callback) {
        SetLastErrorValue(error);
        return 0;
    }
    const uint8_t* whole = content.Whole();
    if (content.Size() && !whole)
        return 0;
    ExtractFailureInfo failure;
    failure.path = path;
    failure.error = error;
    failure.data = whole;
    failure.size = content.Size();
    failure.creationTime = info.creationTime;
    failure.lastAccessTime = info.lastAccessTime;
    failure.lastWriteTime = info.lastWriteTime;
    failure.attributes = info.attributes;
    int result = callback(&failure, callbackData);
    if (!result)
        SetLastErrorValue(error);
    return result;
}
