// Mapping of Win32 error numbers onto file exception causes.
#include "CFileException.h"

int CFileException::OsErrorToException(long osError)
{
    switch (osError) {
    case 0: return none;
    case 2: return fileNotFound;     // ERROR_FILE_NOT_FOUND
    case 3: return badPath;          // ERROR_PATH_NOT_FOUND
    case 4: return tooManyOpenFiles; // ERROR_TOO_MANY_OPEN_FILES
    case 5: return accessDenied;     // ERROR_ACCESS_DENIED
    case 6: return invalidFile;      // ERROR_INVALID_HANDLE
    case 16: return removeCurrentDir;
    case 18: return directoryFull;
    case 25: return badSeek;
    case 32: return sharingViolation;
    case 33: return lockViolation;
    case 38: return endOfFile;       // ERROR_HANDLE_EOF
    case 112: return diskFull;       // ERROR_DISK_FULL
    case 123: return badPath;        // ERROR_INVALID_NAME
    case 206: return badPath;        // ERROR_FILENAME_EXCED_RANGE
    default: return genericException;
    }
}
