// Stand-in installer: records what it was started with and exits with a chosen code.
//
// Report, one item a line, appended to the file named by OEM_SAMPLE_REPORT, or,
// when that variable is unset or empty, to "sample-installer.log" in the parent
// of the current folder (the launcher removes the current folder afterwards):
//   == sample installer
//   command line: <GetCommandLineA()>
//   current folder: <GetCurrentDirectoryA()>
//   file: <name>          (each non-folder entry of the current folder, sorted)
//   folder: <name>        (each sub-folder, sorted)
//   exit code: <n>
// The same lines go to standard output. The exit code is OEM_SAMPLE_EXIT
// (decimal, default 0).
//
// For the launcher's clean-up tests:
//   OEM_SAMPLE_KEEP=<folder>   copies each file of the current folder there first;
//   OEM_SAMPLE_HOLD_MS=<n>     leaves a child process behind that keeps
//                              Language.ini of the current folder open (read
//                              sharing only) for n milliseconds after this
//                              program has ended.
// Started as "<program> --sleep <n>", it only sleeps n milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Environment(const char* name)
{
    char value[1024];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value)
        return std::string();
    return std::string(value, length);
}

std::string DefaultReportPath(const std::string& folder)
{
    std::string parent = folder;
    while (!parent.empty() && parent.back() == '\\')
        parent.pop_back();
    size_t slash = parent.find_last_of('\\');
    parent = slash == std::string::npos ? std::string(".") : parent.substr(0, slash);
    return parent + "\\sample-installer.log";
}

// Starts this program again with "--sleep <ms>", handing it an inheritable
// handle on Language.ini: the child holds the file after this process ends.
void LeaveHoldingChild(const std::string& folder, unsigned long ms)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE held = CreateFileA((folder + "\\Language.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                              OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "sample installer: cannot open Language.ini, error %lu\n", GetLastError());
        return;
    }
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = std::string("\"") + self + "\" --sleep " + std::to_string(ms);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        fprintf(stderr, "sample installer: cannot start the holding child, error %lu\n", GetLastError());
    }
    CloseHandle(held);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--sleep") {
        Sleep(strtoul(argv[2], nullptr, 10));
        return 0;
    }
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof folder, folder);
    std::string exitText = Environment("OEM_SAMPLE_EXIT");
    unsigned long exitCode = exitText.empty() ? 0 : strtoul(exitText.c_str(), nullptr, 10);

    std::vector<std::string> files, folders;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(folder) + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? folders : files).push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    std::string keep = Environment("OEM_SAMPLE_KEEP");
    if (!keep.empty()) {
        for (const std::string& name : files)
            CopyFileA((std::string(folder) + "\\" + name).c_str(), (keep + "\\" + name).c_str(), FALSE);
    }
    std::string holdMs = Environment("OEM_SAMPLE_HOLD_MS");
    if (!holdMs.empty())
        LeaveHoldingChild(folder, strtoul(holdMs.c_str(), nullptr, 10));

    std::string report = "== sample installer\n";
    report += std::string("command line: ") + GetCommandLineA() + "\n";
    report += std::string("current folder: ") + folder + "\n";
    for (const std::string& name : files)
        report += "file: " + name + "\n";
    for (const std::string& name : folders)
        report += "folder: " + name + "\n";
    report += "exit code: " + std::to_string(exitCode) + "\n";

    fputs(report.c_str(), stdout);
    fflush(stdout);
    std::string reportPath = Environment("OEM_SAMPLE_REPORT");
    if (reportPath.empty())
        reportPath = DefaultReportPath(folder);
    if (FILE* out = fopen(reportPath.c_str(), "ab")) {
        fwrite(report.data(), 1, report.size(), out);
        fclose(out);
    } else {
        fprintf(stderr, "sample installer: cannot write %s\n", reportPath.c_str());
    }
    return static_cast<int>(exitCode);
}
