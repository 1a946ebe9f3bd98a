// Temporary folder, folder creation, tree deletion and the module's own folder.
#pragma once

#include <windows.h>

#include "CString.h"

// Fills buffer (at least MAX_PATH bytes) with the temporary path, always ending
// in "\": the system temporary path, or "<Windows folder>\Temp\" when the
// temporary path is the Windows folder itself. Creates nothing. A path that
// would not fit MAX_PATH bytes is refused: buffer is then "" (and a log record
// says so). Returns buffer.
char* GetTempFolder(char* buffer);

// Creates path and every missing parent, outermost first. Returns 1 when the
// folder exists at the end, 0 otherwise; 0 at once for a path of MAX_PATH bytes
// or more. The parent walk is multibyte-aware: a trail byte 0x5C is never taken
// for a separator.
int CreateFolderTree(CString path);

// Deletes what pattern names: a file, a folder with its whole subtree, or, for
// "<folder>\*.*", the folder's contents. Returns 1 when the first search found
// something, 0 otherwise. Attributes are never changed, so read-only files and
// the folders above them stay. A folder that cannot be opened for deletion
// (some process's current folder, for one) is still emptied; it stays itself. A directory that is a reparse point (junction or
// symbolic link) is removed as a link and never entered. Entries whose full path
// would not fit MAX_PATH bytes are left alone with a log record.
// Below what the search finds, the walk goes by handle, not by path: each entry
// is opened as itself (a link is never followed) relative to its already open
// folder, judged by what the open handle is, listed through that handle and
// deleted through its own handle; a listed entry that is no longer the one that
// was listed (another file id) is left alone, and an entry the listing shows
// as a link is not entered even where a link cannot be opened as itself (Wine).
// So a folder replaced by a link while the tree is being deleted cannot send
// the deletion elsewhere.
int DeleteTree(const char* pattern);

// Creates the folder path (never an existing one: ERROR_ALREADY_EXISTS) with
// the given security attributes (may be null) and opens it in the same step,
// for listing, sharing reading and writing but not deletion: while the handle
// is open the folder cannot be renamed or deleted (ERROR_SHARING_VIOLATION),
// and files in it can still be made, changed and deleted, and it can be a
// process's current folder. The folder above must exist (else
// ERROR_PATH_NOT_FOUND, as from CreateDirectoryA). Returns the handle, or INVALID_HANDLE_VALUE with the
// last-error value saying why. Close the handle before deleting the folder.
HANDLE CreateHeldFolder(const char* path, SECURITY_ATTRIBUTES* security);

// Fills folder (MAX_PATH bytes) with the folder of module's file, without a
// trailing "\". Returns 1, or 0 with folder "" when the module's path cannot be
// read or does not fit.
int GetModuleFolderOf(HMODULE module, char* folder);

// Ends path at its last "\" (walking it with CharNextA, so double-byte
// characters are never split). A path without "\" is left unchanged.
void CutAtLastBackslash(char* path);
