// Staged output files: a temporary name beside the target, moved into place when complete.
#include "StagedOutput.h"

#include "Console.h"
#include "SystemApi.h"

namespace {

// Room a unique name needs after the folder: a separator and "oemXXXX.tmp" plus its terminator.
constexpr size_t kTemporaryNameRoom = 14;

}  // namespace

StagedOutput::~StagedOutput()
{
    if (!temporary_.empty()) {
        SetPathAttributes(temporary_.c_str(), kFileAttributeNormal);
        (void)DeletePath(temporary_.c_str());
    }
}

Status StagedOutput::Begin(const std::string& finalPath)
{
    final_ = finalPath;
    std::string folder = ".";
    size_t cut = finalPath.find_last_of(kPathSeparator == '\\' ? "\\/" : "/");
    if (cut != std::string::npos)
        folder = cut == 0 ? finalPath.substr(0, 1) : finalPath.substr(0, cut);
    else if (kPathSeparator == '\\' && finalPath.size() >= 2 && finalPath[1] == ':')
        folder = finalPath.substr(0, 2) + ".";
    if (finalPath.size() >= static_cast<size_t>(kMaxPath) || folder.size() > kMaxPath - kTemporaryNameRoom)
        return Status::Error(kErrorFilenameExcedRange, finalPath + ": path too long");
    uint32_t attributes = GetPathAttributes(finalPath.c_str());
    if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory))
        return Status::Error(kErrorAccessDenied, finalPath + ": is a folder");
    attributes = GetPathAttributes(folder.c_str());
    if (attributes == kInvalidFileAttributes || (attributes & kFileAttributeDirectory) == 0)
        return Status::Error(kErrorPathNotFound, finalPath + ": the folder " + folder + " does not exist");
    char temporary[kMaxPath] = {};
    if (!CreateUniqueFile(folder.c_str(), "oem", temporary))
        return SystemFailure(GetLastErrorValue(), finalPath + ": cannot create a file in " + folder);
    temporary_ = temporary;
    return Status::Ok();
}

Status StagedOutput::Commit()
{
    if (!ReplacePath(temporary_.c_str(), final_.c_str()))
        return SystemFailure(GetLastErrorValue(), final_ + ": cannot write");
    temporary_.clear();
    return Status::Ok();
}
