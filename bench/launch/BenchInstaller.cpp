// Stand-in installer for the launch benchmark: stamps the moment it runs and exits.
//
// Writes the current system time, as nanoseconds since 1970-01-01 UTC in
// decimal, to the file named by OEM_BENCH_STAMP (nothing when unset), then
// exits with 0. Kept free of the C++ runtime's start-up work beyond main.
#include <windows.h>

#include <cstdio>

int main()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("OEM_BENCH_STAMP", path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return 0;
    // 100-ns ticks since 1601 -> ns since 1970.
    const unsigned long long kUnixEpochTicks = 116444736000000000ULL;
    unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    unsigned long long ns = (ticks - kUnixEpochTicks) * 100ULL;
    char text[32];
    int n = snprintf(text, sizeof text, "%llu\n", ns);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
    return ok && written == static_cast<DWORD>(n) ? 0 : 1;
}
