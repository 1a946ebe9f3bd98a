// Failure reporting: the install log at the root of the Windows drive and the debugger output.
#pragma once

#include <windows.h>

#include <cstdarg>

// Size of the line buffer of one log record, terminator included.
constexpr int kLogLineSize = 1024;
// Longest prefix plus message a record may hold (the "\r\n" and the zero follow).
constexpr int kLogMessageLimit = 1021;
// Longest text DebugPrint sends is one below this.
constexpr int kDebugPrintLimit = 490;
// Length of the "..." that ends a message cut to kLogMessageLimit.
constexpr int kLogCutMarkLength = 3;

// Formats one record and appends it to the install log, after sending it to the
// debugger output. Never fails towards the caller and shows nothing on screen.
// A message that would make prefix + message longer than kLogMessageLimit is
// cut so that the record ends in "..." within that limit (a record that fits is
// never changed). The last-error value is
// preserved, so callers may log a failure and still read its code afterwards.
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats at most kDebugPrintLimit - 1 characters, appends "\n" and passes the
// text to OutputDebugStringA; longer text sends nothing.
void DebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The pieces LogError is made of, exposed so the record format and the on-disk
// encodings can be checked against a fixed time and a chosen file.

// Builds "Setup.exe YYYY/MM/DD,hh:mm:ss :<message>\r\n" into line (kLogLineSize
// bytes). A message that does not fit is cut at a character boundary so that
// prefix + kept text + "..." is at most kLogMessageLimit. Returns the line
// length, or -1 when the message cannot be formatted (line is then unspecified).
int FormatLogLine(char* line, const SYSTEMTIME& time, const char* format, va_list args);

// The install log path: the first three characters of the Windows folder
// followed by "Vizoror.log". Returns 0 (and an empty path) when the Windows
// folder is shorter than three characters or cannot be read; path holds MAX_PATH.
int GetInstallLogPath(char* path);

// Appends one finished line to the log file at path: a new file is created in
// text mode (the LF of "\r\n" becomes CR LF), an existing one that starts with
// FF FE gets the line as UTF-16LE, any other gets the ANSI bytes. The string
// terminator is written with every record. Failures are ignored.
void AppendLogRecord(const char* path, const char* line);
