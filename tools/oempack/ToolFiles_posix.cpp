// POSIX file-system helpers of the packaging tool: folder listing, paths.
#include "ToolFiles.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "CFile.h"
#include "Console.h"
#include "PosixErrors.h"

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

}  // namespace

Status ListFolder(const std::string& folder, std::vector<FolderItem>* items)
{
    items->clear();
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0)
        return SystemFailure(Win32ErrorForPath(errno, folder.c_str()), folder);
    if (!S_ISDIR(st.st_mode))
        return Status::Error(kErrorDirectory, folder + ": not a folder");
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir)
        return SystemFailure(Win32ErrorFromErrno(errno), folder);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0)
                return SystemFailure(Win32ErrorFromErrno(errno), folder);
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        // stat, not lstat: a link counts as what it points at.
        struct stat item;
        const std::string path = JoinPath(folder, name);
        if (::stat(path.c_str(), &item) != 0)
            return SystemFailure(Win32ErrorFromErrno(errno), path);
        items->push_back(FolderItem{name, S_ISDIR(item.st_mode),
                                    S_ISDIR(item.st_mode) ? 0 : static_cast<uint64_t>(item.st_size)});
    }
    std::sort(items->begin(), items->end(),
              [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    return Status::Ok();
}

Status QueryPath(const std::string& path, bool* isFolder, uint64_t* size)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return SystemFailure(Win32ErrorForPath(errno, path.c_str()), path);
    *isFolder = S_ISDIR(st.st_mode);
    *size = *isFolder ? 0 : static_cast<uint64_t>(st.st_size);
    return Status::Ok();
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string ProgramFolder()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    const std::string s(path, static_cast<size_t>(n));
    const size_t cut = s.find_last_of('/');
    return cut == std::string::npos ? std::string(".") : cut == 0 ? std::string("/") : s.substr(0, cut);
}

std::string AnsiToUtf8(const std::string& text)
{
    return text;
}
