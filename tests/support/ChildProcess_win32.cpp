// Child processes for the Windows tests.
#include "ChildProcess.h"

#include <windows.h>

#include <cstring>
#include <map>

#include "ScratchFolder.h"
#include "TestFiles.h"

namespace test_support {

namespace {

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

std::string ProgramFolder()
{
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\'));
}

}  // namespace test_support
