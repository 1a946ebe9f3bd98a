// Console output and error texts of the packaging tool's portable parts on POSIX hosts.
#include "Console.h"

#include <unistd.h>

#include <cstdio>

void PrintError(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "oempack: %s\n", message.c_str());
}

void PrintWarning(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "oempack: warning: %s\n", message.c_str());
}

void PrintNote(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "oempack: note: %s\n", message.c_str());
}

void PrintOut(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool StandardErrorIsConsole()
{
    return isatty(2) != 0;
}

std::string SystemErrorText(uint32_t code)
{
    // The portable code reports Win32 numbers; the number is the text here.
    return "system error (error " + std::to_string(code) + ")";
}
