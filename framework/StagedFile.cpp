// Staged output files: a temporary name beside the target, moved into place when complete.
#include "StagedFile.h"

#include "SystemApi.h"

namespace {

// Room a unique name needs after the folder: a separator and "oemXXXX.tmp" plus its terminator.
constexpr size_t kTemporaryNameRoom = 14;

std::string FolderOf(const std::string& path)
{
    const size_t cut = path.find_last_of(kPathSeparator == '\\' ? "\\/" : "/");
    if (cut != std::string::npos)
        return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
    if (kPathSeparator == '\\' && path.size() >= 2 && path[1] == ':')
        return path.substr(0, 2) + ".";
    return ".";
}

}  // namespace

StagedFile::~StagedFile()
{
    if (!temporary_.empty()) {
        LastErrorGuard keep;
        SetPathAttributes(temporary_.c_str(), kFileAttributeNormal);
        (void)DeletePath(temporary_.c_str());
    }
}

StagedFileRefusal StagedFile::Begin(const std::string& finalPath)
{
    final_ = finalPath;
    folder_ = FolderOf(finalPath);
    if (finalPath.size() >= static_cast<size_t>(kMaxPath))
        return StagedFileRefusal::kPathTooLong;
    if (folder_.size() > kMaxPath - kTemporaryNameRoom)
        return StagedFileRefusal::kFolderTooLong;
    uint32_t attributes = GetPathAttributes(finalPath.c_str());
    if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory))
        return StagedFileRefusal::kTargetIsFolder;
    attributes = GetPathAttributes(folder_.c_str());
    if (attributes == kInvalidFileAttributes || (attributes & kFileAttributeDirectory) == 0)
        return StagedFileRefusal::kNoFolder;
    char temporary[kMaxPath] = {};
    if (!CreateUniqueFile(folder_.c_str(), "oem", temporary))
        return StagedFileRefusal::kCannotCreate;
    temporary_ = temporary;
    return StagedFileRefusal::kNone;
}

bool StagedFile::Commit()
{
    if (!ReplacePath(temporary_.c_str(), final_.c_str()))
        return false;
    temporary_.clear();
    return true;
}
