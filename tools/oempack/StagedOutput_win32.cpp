// Staged output files: a temporary name beside the target, moved into place when complete.
#include "StagedOutput.h"

#include <windows.h>

#include "Console.h"

StagedOutput::~StagedOutput()
{
    if (!temporary_.empty()) {
        SetFileAttributesA(temporary_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(temporary_.c_str());
    }
}

Status StagedOutput::Begin(const std::string& finalPath)
{
    final_ = finalPath;
    std::string folder = ".";
    size_t cut = finalPath.find_last_of("\\/");
    if (cut != std::string::npos)
        folder = cut == 0 ? finalPath.substr(0, 1) : finalPath.substr(0, cut);
    else if (finalPath.size() >= 2 && finalPath[1] == ':')
        folder = finalPath.substr(0, 2) + ".";
    if (finalPath.size() >= MAX_PATH || folder.size() > MAX_PATH - 14)
        return Status::Error(ERROR_FILENAME_EXCED_RANGE, finalPath + ": path too long");
    DWORD attributes = GetFileAttributesA(finalPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Status::Error(ERROR_ACCESS_DENIED, finalPath + ": is a folder");
    attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return Status::Error(ERROR_PATH_NOT_FOUND, finalPath + ": the folder " + folder + " does not exist");
    char temporary[MAX_PATH] = {};
    if (GetTempFileNameA(folder.c_str(), "oem", 0, temporary) == 0)
        return SystemFailure(GetLastError(), finalPath + ": cannot create a file in " + folder);
    temporary_ = temporary;
    return Status::Ok();
}

Status StagedOutput::Commit()
{
    if (!MoveFileExA(temporary_.c_str(), final_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
        return SystemFailure(GetLastError(), final_ + ": cannot write");
    temporary_.clear();
    return Status::Ok();
}
