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

bool StagedOutput::Begin(const std::string& finalPath, std::string* error)
{
    final_ = finalPath;
    std::string folder = ".";
    size_t cut = finalPath.find_last_of("\\/");
    if (cut != std::string::npos)
        folder = cut == 0 ? finalPath.substr(0, 1) : finalPath.substr(0, cut);
    else if (finalPath.size() >= 2 && finalPath[1] == ':')
        folder = finalPath.substr(0, 2) + ".";
    if (finalPath.size() >= MAX_PATH || folder.size() > MAX_PATH - 14) {
        *error = finalPath + ": path too long";
        return false;
    }
    DWORD attributes = GetFileAttributesA(finalPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = finalPath + ": is a folder";
        return false;
    }
    attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        *error = finalPath + ": the folder " + folder + " does not exist";
        return false;
    }
    char temporary[MAX_PATH] = {};
    if (GetTempFileNameA(folder.c_str(), "oem", 0, temporary) == 0) {
        *error = finalPath + ": cannot create a file in " + folder + ": " + SystemErrorText(GetLastError());
        return false;
    }
    temporary_ = temporary;
    return true;
}

bool StagedOutput::Commit(std::string* error)
{
    if (!MoveFileExA(temporary_.c_str(), final_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        *error = final_ + ": cannot write: " + SystemErrorText(GetLastError());
        return false;
    }
    temporary_.clear();
    return true;
}
