// A test build of Setup.exe that meddles with its work files between writing and holding them, as the environment asks.
//
//   OEM_TEST_SWAP_INSTALLER  a file copied over setup.exe right after its unpacking
//   OEM_TEST_SWAP_LANGUAGE   a file copied over Language.ini right after its writing
//   OEM_TEST_RENAME_REPORT   right after setup.exe is unpacked, every {*} folder of the
//                            temporary folder (the work folder and the unpacker's), then the
//                            temporary folder itself, is renamed and, where that worked, renamed
//                            back; one line per attempt is appended to this file:
//                            "<name>: error <code>" or "<name>: renamed"
#include <windows.h>

#include <cstdio>
#include <string>

#include "LauncherApp.h"

namespace {

std::string Variable(const char* name)
{
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length != 0 && length < sizeof value ? value : "";
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

// Renames folder aside and back; the line for the report.
std::string TryRename(const std::string& folder, const std::string& name)
{
    const std::string aside = folder + "-moved";
    if (!MoveFileA(folder.c_str(), aside.c_str()))
        return name + ": error " + std::to_string(GetLastError()) + "\n";
    MoveFileA(aside.c_str(), folder.c_str());
    return name + ": renamed\n";
}

// Does what a program of the same user may do while the work folder's access
// rules are not enforced: change the files before the launcher holds them,
// move the folders they are in.
class SwappedInstallerLauncher : public LauncherApp {
protected:
    void LanguageWritten(const CString& iniPath) override
    {
        const std::string swap = Variable("OEM_TEST_SWAP_LANGUAGE");
        if (!swap.empty())
            CopyFileA(swap.c_str(), iniPath, FALSE);
    }
    void InstallerUnpacked(const CString& exePath) override
    {
        const std::string swap = Variable("OEM_TEST_SWAP_INSTALLER");
        if (!swap.empty())
            CopyFileA(swap.c_str(), exePath, FALSE);
        const std::string report = Variable("OEM_TEST_RENAME_REPORT");
        if (!report.empty())
            RenameFolders(FolderOf(FolderOf(exePath.GetString())), report);
    }

private:
    static void RenameFolders(const std::string& temp, const std::string& report)
    {
        std::string lines;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((temp + "\\{*}").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                    lines += TryRename(temp + "\\" + found.cFileName, found.cFileName);
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        lines += TryRename(temp, "temporary folder");
        if (FILE* file = std::fopen(report.c_str(), "ab")) {
            std::fwrite(lines.data(), 1, lines.size(), file);
            std::fclose(file);
        }
    }
};

}  // namespace

SwappedInstallerLauncher theApp;
