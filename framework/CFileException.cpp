// Mapping of Win32 error numbers onto file exception causes.
#include "CFileException.h"

#include "SystemApi.h"

int CFileException::OsErrorToException(long osError)
{
    switch (osError) {
    case kErrorSuccess: return none;
    case kErrorFileNotFound: return fileNotFound;
    case kErrorPathNotFound: return badPath;
    case kErrorTooManyOpenFiles: return tooManyOpenFiles;
    case kErrorAccessDenied: return accessDenied;
    case kErrorInvalidHandle: return invalidFile;
    case kErrorCurrentDirectory: return removeCurrentDir;
    case kErrorNoMoreFiles: return directoryFull;
    case kErrorSeek: return badSeek;
    case kErrorSharingViolation: return sharingViolation;
    case kErrorLockViolation: return lockViolation;
    case kErrorHandleEof: return endOfFile;
    case kErrorDiskFull: return diskFull;
    case kErrorInvalidName: return badPath;
    case kErrorFilenameExcedRange: return badPath;
    default: return genericException;
    }
}
