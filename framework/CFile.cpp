// CFile: the parts common to both platforms; the file calls are in CFile_win32.cpp / CFile_posix.cpp.
#include "CFile.h"

CFile::CFile(const char* path, unsigned openFlags)
{
    CFileException error;
    if (!Open(path, openFlags, &error))
        throw error;
}

CFile::~CFile() { Abort(); }
