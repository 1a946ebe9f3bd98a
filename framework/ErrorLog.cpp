// Install log records and debugger output.
#include "ErrorLog.h"

#include <io.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr char kProgramName[] = "Setup.exe";
constexpr char kLogName[] = "Vizoror.log";

void SendDebugText(const char* format, va_list args)
{
    char text[500];
    int length = vsnprintf(text, sizeof text, format, args);
    if (length < 0 || length >= kDebugPrintLimit)
        return;
    text[length] = '\n';
    text[length + 1] = '\0';
    OutputDebugStringA(text);
}

}  // namespace

int FormatLogLine(char* line, const SYSTEMTIME& time, const char* format, va_list args)
{
    int prefix = snprintf(line, kLogLineSize, "%s %04u/%02u/%02u,%02u:%02u:%02u :", kProgramName,
                          static_cast<unsigned>(time.wYear), static_cast<unsigned>(time.wMonth),
                          static_cast<unsigned>(time.wDay), static_cast<unsigned>(time.wHour),
                          static_cast<unsigned>(time.wMinute), static_cast<unsigned>(time.wSecond));
    if (prefix < 0 || prefix > kLogMessageLimit)
        return -1;
    int room = kLogMessageLimit - prefix;
    int message = vsnprintf(line + prefix, static_cast<size_t>(room) + 1, format, args);
    if (message < 0)
        return -1;
    int length = prefix + message;
    if (message > room) {
        // An overlong message (a long command line in it, say) still leaves a
        // record: it is cut, marked, and never split inside a double-byte character.
        const int cut = kLogMessageLimit - kLogCutMarkLength;
        if (room < kLogCutMarkLength)
            return -1;
        const char* end = line + prefix;
        for (const char* next = CharNextA(end); *end && next - line <= cut; next = CharNextA(end))
            end = next;
        length = static_cast<int>(end - line);
        memcpy(line + length, "...", kLogCutMarkLength);
        length += kLogCutMarkLength;
    }
    line[length++] = '\r';
    line[length++] = '\n';
    line[length] = '\0';
    return length;
}

int GetInstallLogPath(char* path)
{
    char windows[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    path[0] = '\0';
    if (length < 3 || length >= sizeof windows)
        return 0;
    memcpy(path, windows, 3);
    memcpy(path + 3, kLogName, sizeof kLogName);
    return 1;
}

void AppendLogRecord(const char* path, const char* line)
{
    size_t length = strlen(line);
    if (_access(path, 0) != 0) {
        FILE* file = fopen(path, "a+t");
        if (!file)
            return;
        fwrite(line, 1, length + 1, file);
        fclose(file);
        return;
    }
    FILE* file = fopen(path, "a+b");
    if (!file)
        return;
    unsigned char mark[2] = {0, 0};
    fseek(file, 0, SEEK_SET);
    size_t got = fread(mark, 1, 2, file);
    if (got == 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
        std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[length + 1]);
        int units = wide ? MultiByteToWideChar(CP_ACP, 0, line, -1, wide.get(), static_cast<int>(length + 1)) : 0;
        if (units > 0) {
            fseek(file, 0, SEEK_END);
            fwrite(wide.get(), sizeof(wchar_t), static_cast<size_t>(units), file);
        }
    } else {
        fseek(file, 0, SEEK_END);
        fwrite(line, 1, length + 1, file);
    }
    fclose(file);
}

void DebugPrint(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    SendDebugText(format, args);
    va_end(args);
}

void LogError(const char* format, ...)
{
    DWORD savedError = GetLastError();
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[kLogLineSize];
    va_list args;
    va_start(args, format);
    int length = FormatLogLine(line, now, format, args);
    va_end(args);
    if (length >= 0) {
        // The line is passed as an argument, never as a format: its own
        // percent signs must reach the debugger unchanged.
        DebugPrint("%s", line);
        char path[MAX_PATH];
        if (GetInstallLogPath(path))
            AppendLogRecord(path, line);
    }
    SetLastError(savedError);
}
