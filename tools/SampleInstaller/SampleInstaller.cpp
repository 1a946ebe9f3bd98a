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

}  // namespace

int main()
{
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
