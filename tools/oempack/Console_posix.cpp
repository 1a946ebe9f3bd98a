// Console output and error texts of the packaging tool on POSIX hosts.
#include "Console.h"

#include <unistd.h>

#include <cstdio>

#include "SystemApi.h"

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
    // The texts the system message table gives the Windows build under Wine,
    // for the Win32 numbers the portable code reports: the same messages from
    // both builds.
    static const struct {
        uint32_t code;
        const char* text;
    } kTexts[] = {
        {1, "Invalid function"},
        {kErrorFileNotFound, "File not found"},
        {kErrorPathNotFound, "Path not found"},
        {kErrorTooManyOpenFiles, "Too many open files"},
        {kErrorAccessDenied, "Access denied"},
        {kErrorInvalidHandle, "Invalid handle"},
        {kErrorNotEnoughMemory, "Not enough memory"},
        {kErrorBadFormat, "Bad format"},
        {kErrorInvalidData, "Invalid data"},
        {kErrorOutOfMemory, "Out of memory"},
        {kErrorNoMoreFiles, "No more files"},
        {kErrorNotReady, "Not ready"},
        {kErrorSeek, "Seek error"},
        {kErrorGenFailure, "General failure"},
        {kErrorSharingViolation, "Sharing violation"},
        {kErrorLockViolation, "Lock violation"},
        {kErrorHandleEof, "End of file"},
        {kErrorNotSupported, "Request not supported"},
        {kErrorFileExists, "File exists"},
        {kErrorInvalidParameter, "Invalid parameter"},
        {kErrorDiskFull, "Disk full"},
        {kErrorInvalidName, "Invalid name"},
        {kErrorAlreadyExists, "File already exists"},
        {kErrorBadExeFormat, "Bad EXE format for %1"},
        {kErrorFilenameExcedRange, "File name is too long"},
        {kErrorExeMachineTypeMismatch, "Machine type mismatch"},
        {kErrorDirectory, "Directory name invalid"},
        {kErrorFileInvalid, "File invalid"},
        {kErrorResourceDataNotFound, "Resource data not found"},
    };
    std::string text = "system error";
    for (const auto& known : kTexts)
        if (known.code == code)
            text = known.text;
    return text + " (error " + std::to_string(code) + ")";
}

void ReadProgramArguments(int argc, char** argv, std::vector<std::string>* arguments,
                          std::vector<std::string>* utf8Arguments)
{
    arguments->assign(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    *utf8Arguments = *arguments;
}
