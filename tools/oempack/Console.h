// Messages of the packaging tool: results on standard output, errors and warnings on standard error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// The program's arguments after its name, split once, twice spelled: in the
// system's code page (paths, as the file functions take them) and as UTF-8
// (text written into resources). Windows: from GetCommandLineW, whatever the
// code page can spell (shell32 is loaded from the system folder: call this
// after RestrictDllSearchToSystemFolder); POSIX: argv, both the same.
void ReadProgramArguments(int argc, char** argv, std::vector<std::string>* arguments,
                          std::vector<std::string>* utf8Arguments);
