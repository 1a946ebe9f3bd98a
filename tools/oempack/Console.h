// Messages of the packaging tool: results on standard output, errors and warnings on standard error.
#pragma once

#include <cstdint>
#include <string>

#include "Status.h"

// "oempack: <message>" on standard error.
void PrintError(const std::string& message);
// "oempack: warning: <message>" on standard error.
void PrintWarning(const std::string& message);
// "oempack: note: <message>" on standard error.
void PrintNote(const std::string& message);
// Text on standard output, as is.
void PrintOut(const std::string& text);

// Text for a Win32 error number: the system's message and the number.
std::string SystemErrorText(uint32_t code);

// A failure with code, reading "<what>: <SystemErrorText(code)>".
inline Status SystemFailure(uint32_t code, const std::string& what)
{
    return Status::Error(code, what + ": " + SystemErrorText(code));
}

// True when standard error is a console (GetFileType gives FILE_TYPE_CHAR).
bool StandardErrorIsConsole();
