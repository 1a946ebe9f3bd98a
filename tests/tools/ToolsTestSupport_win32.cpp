// Win32 implementation of the tools tests' scratch folders, files and child processes.
#include "ToolsTestSupport.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

namespace toolstest {

namespace {

std::atomic<unsigned> folderCounter{0};

std::string UpperName(const std::string& entry)
{
    std::string name = entry.substr(0, entry.find('=', 1));
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return name;
}

// This process's environment with the extra entries added or replaced, as a
// double-NUL-terminated block.
std::string EnvironmentBlock(const std::vector<std::string>& extra)
{
    std::map<std::string, std::string> entries;
    char* strings = GetEnvironmentStringsA();
    for (const char* p = strings; p != nullptr && *p != '\0'; p += std::strlen(p) + 1)
        entries[UpperName(p)] = p;
    if (strings != nullptr)
        FreeEnvironmentStringsA(strings);
    for (const std::string& e : extra)
        entries[UpperName(e)] = e;
    std::string block;
    for (const auto& kv : entries) {
        block += kv.second;
        block += '\0';
    }
    block += '\0';
    return block;
}

HANDLE InheritableFile(const std::string& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES sa = {};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ScratchFolder::ScratchFolder()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string base = temp;
    if (!base.empty() && base.back() == '\\')
        base.pop_back();
    for (;;) {
        path_ = base + "\\oemtools-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(folderCounter++) + "-" + std::to_string(GetTickCount());
        if (CreateDirectoryA(path_.c_str(), nullptr))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            path_.clear();
            break;
        }
    }
}

ScratchFolder::~ScratchFolder()
{
    if (!path_.empty())
        RemoveTree(path_);
}

bool RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool MakeFolder(const std::string& path)
{
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool WriteBytes(const std::string& path, const std::string& bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = bytes.empty() ||
              (WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
               written == bytes.size());
    CloseHandle(h);
    return ok;
}

bool ReadBytes(const std::string& path, std::string* bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(h, buffer, sizeof buffer, &got, nullptr) != 0) && got != 0)
        bytes->append(buffer, got);
    CloseHandle(h);
    return ok;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ListFolder(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = data.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::string ProgramFolder()
{
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\'));
}

std::string PatternBytes(uint32_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (uint32_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x & 0xFF);
    }
    return bytes;
}

ProcessResult RunProcess(const std::string& commandLine, const std::vector<std::string>& extraEnvironment,
                         const std::string& currentFolder, uint32_t timeoutMs)
{
    ProcessResult result;
    ScratchFolder streams;
    std::string outPath = streams / "stdout.txt";
    std::string errPath = streams / "stderr.txt";
    HANDLE in = InheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = InheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = InheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    std::string environment = EnvironmentBlock(extraEnvironment);
    std::vector<char> command(commandLine.begin(), commandLine.end());
    command.push_back('\0');
    result.started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                    &environment[0],
                                    currentFolder.empty() ? nullptr : currentFolder.c_str(), &si,
                                    &pi) != 0;
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (result.started) {
        if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, INFINITE);
        }
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        result.exitCode = code;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    ReadBytes(outPath, &result.out);
    ReadBytes(errPath, &result.err);
    return result;
}

std::string WindowsPath(const std::string& path)
{
    std::string out = path;
    for (char& c : out)
        if (c == '/')
            c = '\\';
    if (!path.empty() && path[0] == '/')
        out = "Z:" + out;
    return out;
}

std::string Quote(const std::string& argument)
{
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

}  // namespace toolstest
