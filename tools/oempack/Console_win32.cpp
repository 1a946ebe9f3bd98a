// Console output and Win32 error texts of the packaging tool.
#include "Console.h"

#include <windows.h>

#include <cstdio>

void PrintError(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "oempack: %s\n", message.c_str());
    std::fflush(stderr);
}

void PrintWarning(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "oempack: warning: %s\n", message.c_str());
    std::fflush(stderr);
}

void PrintNote(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "oempack: note: %s\n", message.c_str());
    std::fflush(stderr);
}

void PrintOut(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool StandardErrorIsConsole()
{
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    return err != nullptr && err != INVALID_HANDLE_VALUE && GetFileType(err) == FILE_TYPE_CHAR;
}

std::string SystemErrorText(uint32_t code)
{
    char buffer[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty())
        text = "system error";
    return text + " (error " + std::to_string(code) + ")";
}
