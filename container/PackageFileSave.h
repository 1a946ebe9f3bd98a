// Saving a package directory as a container file that replaces the old one only when it is complete.
#pragma once

#include <memory>

#include "CString.h"
#include "MappedFile.h"
#include "PackageDirectory.h"

// A package file mapped for its entries to view, and the path it was opened from.
struct PackageMapping {
    std::shared_ptr<const MappedFile> file;
    CString path;
};

// Writes directory as a container file at path, never writing to path itself:
// the image (the bytes BuildContainerImage would make) is streamed entry by
// entry into a new file beside it (same folder), which is flushed, closed and
// then put in path's place (ReplacePath). The entries that view held.file are
// moved to views of the new file first, and held is released, so that on
// Windows nothing of this process keeps the old file open while it is
// replaced. After a successful save held maps the new file at path and every
// owned entry, changed ones included, is a view of it.
//
// 1 on success. 0, path untouched and no new file left behind:
// - the directory cannot be written as a container (87);
// - the new file cannot be created, mapped or put in place (the system's code;
//   held is opened again and the entries view it as before).
// A write that fails part-way (disk full) deletes the new file and throws the
// CFileException, with path as its file name.
int SavePackageFile(PackageDirectory& directory, const char* path, PackageMapping& held);
