// Console output and Win32 error texts of the packaging tool.
#include "Console.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "SystemLibrary.h"

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

namespace {

// wide in the code page codePage; no text for an empty or failed conversion.
std::string FromWide(const wchar_t* wide, UINT codePage)
{
    const int size = WideCharToMultiByte(codePage, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, wide, -1, &text[0], size, nullptr, nullptr);
    text.resize(static_cast<size_t>(size - 1));
    return text;
}

}  // namespace

void ReadProgramArguments(int argc, char** argv, std::vector<std::string>* arguments,
                          std::vector<std::string>* utf8Arguments)
{
    // shell32 from the system folder, loaded once the DLL search is restricted:
    // imported, the loader would resolve it and its own imports (version.dll
    // under Wine) before main, from the program's folder first.
    const SystemLibrary shell32("shell32.dll");
    const auto split = shell32.Function<decltype(&CommandLineToArgvW)>("CommandLineToArgvW");
    int count = 0;
    LPWSTR* wide = split != nullptr ? split(GetCommandLineW(), &count) : nullptr;
    arguments->clear();
    utf8Arguments->clear();
    if (wide == nullptr) {
        // Without the wide split, the runtime's: text beyond the code page is lost.
        arguments->assign(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
        *utf8Arguments = *arguments;
        return;
    }
    for (int i = 1; i < count; ++i) {
        arguments->push_back(FromWide(wide[i], CP_ACP));
        utf8Arguments->push_back(FromWide(wide[i], CP_UTF8));
    }
    LocalFree(wide);
}
