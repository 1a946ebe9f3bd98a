// Work folder life cycle: exclusive creation, marker, patient removal, start-up sweep.
#include "WorkFolder.h"

#include <algorithm>
#include <string>
#include <vector>

#include "ErrorLog.h"
#include "FolderUtilities.h"
#include "GuidText.h"

namespace {

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Everything left below folder, each entry before the folder that holds it,
// the folder itself last; names in byte order within a folder. Links are
// listed as themselves and not entered; paths that would not fit MAX_PATH are
// passed over.
void CollectLeftovers(const std::string& folder, std::vector<std::string>* left)
{
    std::vector<std::pair<std::string, bool>> entries;  // name, to be entered
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == ".." || folder.size() + 1 + name.size() >= MAX_PATH)
                continue;
            entries.emplace_back(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                           (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
        const std::string path = folder + "\\" + entry.first;
        if (entry.second)
            CollectLeftovers(path, left);
        else
            left->push_back(path);
    }
    left->push_back(folder);
}

uint64_t Ticks(const FILETIME& time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A name of the work folders' form: a braced GUID.
bool HasWorkFolderName(const char* name)
{
    const std::string text = name;
    return text.size() == static_cast<size_t>(kGuidTextLength) && text.front() == '{' && text.back() == '}';
}

}  // namespace

WorkFolder::~WorkFolder()
{
    Remove();
}

Status WorkFolder::Create(const CString& path, SECURITY_ATTRIBUTES* security)
{
    folder_.Reset(CreateHeldFolder(path, security));
    if (!folder_.Valid())
        return Status::LastError();
    const CString markerPath = path + "\\" + kWorkFolderMarkerName;
    HANDLE marker = CreateFileA(markerPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        folder_.Reset(INVALID_HANDLE_VALUE);
        RemoveDirectoryA(path);
        return Status::Error(code);
    }
    marker_ = marker;
    path_ = path;
    return Status::Ok();
}

Status WorkFolder::CreateFresh(const CString& tempFolder, SECURITY_ATTRIBUTES* security, int attempts,
                               GuidCreator create, CString* tried)
{
    Status created = Status::Error(ERROR_ALREADY_EXISTS);
    for (int attempt = 0; attempt < attempts && created.Code() == ERROR_ALREADY_EXISTS; ++attempt) {
        *tried = tempFolder + MakeGuidText(create);
        created = Create(*tried, security);
    }
    return created;
}

bool WorkFolder::Remove()
{
    if (path_.IsEmpty())
        return true;
    if (marker_ != INVALID_HANDLE_VALUE) {
        CloseHandle(marker_);
        marker_ = INVALID_HANDLE_VALUE;
    }
    // The hold refuses deletion to everyone, this process included: it goes
    // just before the folder does.
    folder_.Reset(INVALID_HANDLE_VALUE);
    const std::string path = path_.GetString();
    path_.Empty();
    // A program that has just ended (an installer's console host, a virus
    // scanner) may still hold something for a moment: try again, a little
    // longer each time.
    DeleteTree(path.c_str());
    for (DWORD wait : kRemovalWaitsMs) {
        if (!Exists(path.c_str()))
            return true;
        Sleep(wait);
        DeleteTree(path.c_str());
    }
    if (!Exists(path.c_str()))
        return true;

    std::vector<std::string> left;
    CollectLeftovers(path, &left);
    // Scheduling needs rights a plain user may not have: the first refusal
    // ends it, and the record says so.
    DWORD scheduleError = ERROR_SUCCESS;
    for (const std::string& entry : left) {
        if (!MoveFileExA(entry.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            scheduleError = GetLastError();
            break;
        }
    }
    const unsigned long count = static_cast<unsigned long>(left.size());
    if (scheduleError == ERROR_SUCCESS)
        LogError("Failure to remove the work folder %s (%lu entries left, first %s); scheduled for removal at restart.",
                 path.c_str(), count, left.front().c_str());
    else
        LogError("Failure to remove the work folder %s (%lu entries left, first %s); removal at restart not scheduled, "
                 "error:%lu.",
                 path.c_str(), count, left.front().c_str(), static_cast<unsigned long>(scheduleError));
    return false;
}

int WorkFolder::SweepStale(const char* tempFolder, const FILETIME& now)
{
    const std::string temp = tempFolder;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((temp + "{*}").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int removed = 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !HasWorkFolderName(found.cFileName))
            continue;
        const std::string folder = temp + found.cFileName;
        const std::string markerPath = folder + "\\" + kWorkFolderMarkerName;
        if (markerPath.size() >= MAX_PATH)
            continue;
        // No sharing: a launch that still owns the folder holds its marker open.
        HANDLE marker = CreateFileA(markerPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (marker == INVALID_HANDLE_VALUE)
            continue;
        BY_HANDLE_FILE_INFORMATION info;
        const bool stale = GetFileInformationByHandle(marker, &info) &&
                           (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                           Ticks(now) > Ticks(info.ftLastWriteTime) &&
                           Ticks(now) - Ticks(info.ftLastWriteTime) > kStaleWorkFolderAge100ns;
        CloseHandle(marker);
        // DeleteTree goes by handle: a folder swapped for a link since the
        // search is removed as the link and never entered.
        if (stale && DeleteTree(folder.c_str()) && !Exists(folder.c_str()))
            ++removed;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return removed;
}
