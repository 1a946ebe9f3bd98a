// Translation of errno values into the Win32 error numbers the system reports.
#pragma once

#include <cstdint>

uint32_t Win32ErrorFromErrno(int error);
// As above for a failed open of path: ENOENT becomes ERROR_PATH_NOT_FOUND when
// the folder that should hold the file is missing, as on Windows.
uint32_t Win32ErrorForPath(int error, const char* path);
