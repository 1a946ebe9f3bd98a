// Stand-in installer for the launch benchmark: stamps the moment it runs and exits.
//
// Writes the current system time, as nanoseconds since 1970-01-01 UTC in
// decimal, then a line with its own command line, to the file named by
// OEM_BENCH_STAMP (nothing when unset). Exits with the number in
// OEM_BENCH_EXIT (0 when unset), so that a launcher's handing back of the
// installer's exit code can be checked, after sleeping OEM_BENCH_SLEEP_MS
// milliseconds (none when unset) for a check of what a slower installer
// changes. Kept free of the C++ runtime's start-up work beyond main. A
// program of the Windows subsystem, as installers are (main still runs).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

// The number in the environment variable, 0 when it is unset.
int NumberFrom(const char* name)
{
    char text[16];
    DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
    if (length == 0 || length >= sizeof text)
        return 0;
    return static_cast<int>(std::strtol(text, nullptr, 10));
}

int Finish(int exitCode)
{
    const int sleepMs = NumberFrom("OEM_BENCH_SLEEP_MS");
    if (sleepMs > 0)
        Sleep(static_cast<DWORD>(sleepMs));
    return exitCode;
}

}  // namespace

int main()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const int exitCode = NumberFrom("OEM_BENCH_EXIT");
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("OEM_BENCH_STAMP", path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return Finish(exitCode);
    // 100-ns ticks since 1601 -> ns since 1970.
    const unsigned long long kUnixEpochTicks = 116444736000000000ULL;
    unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    unsigned long long ns = (ticks - kUnixEpochTicks) * 100ULL;
    char text[32];
    int n = snprintf(text, sizeof text, "%llu\n", ns);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    const char* commandLine = GetCommandLineA();
    DWORD written = 0, writtenLine = 0, writtenEnd = 0;
    BOOL ok = WriteFile(file, text, static_cast<DWORD>(n), &written, nullptr) &&
              WriteFile(file, commandLine, static_cast<DWORD>(lstrlenA(commandLine)), &writtenLine, nullptr) &&
              WriteFile(file, "\n", 1, &writtenEnd, nullptr);
    CloseHandle(file);
    return Finish(ok && written == static_cast<DWORD>(n) ? exitCode : 1);
}
