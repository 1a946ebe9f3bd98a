// A launch's work folder: made fresh, marked as ours, removed without leftovers.
#pragma once

#include <windows.h>

#include <cstdint>

#include "CString.h"
#include "GuidText.h"
#include "ObjectHandle.h"
#include "Status.h"

// The marker: an empty file of this name, the first thing written into a work
// folder. It is held open without any sharing while the launch owns the folder,
// so a launch still running is never swept. Installers see it beside them.
constexpr char kWorkFolderMarkerName[] = "~oemwork";
// A work folder is "<temporary path>{GUID}": kGuidTextLength characters,
// braced. The start-up sweep takes only folders of that name with a marker.
// A marker older than this (last write time) belongs to an abandoned launch.
constexpr uint64_t kStaleWorkFolderAge100ns = 24ull * 60 * 60 * 10000000ull;
// The waits between removal attempts of a folder still in use, in
// milliseconds: about 5 s in all, growing.
constexpr DWORD kRemovalWaitsMs[] = {50, 100, 200, 400, 800, 1600, 1850};
// How many fresh GUID names are tried while a new folder's name is taken
// already (an existing folder is never used): the launcher's work folder and
// the unpacker's folder alike.
constexpr int kWorkFolderAttempts = 5;

class WorkFolder {
public:
    WorkFolder() = default;
    // Remove(), when the folder was created and not removed yet.
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // Creates path with CreateHeldFolder (never accepting an existing folder:
    // ERROR_ALREADY_EXISTS is returned as such, unlogged, and nothing is
    // taken over) with the given security attributes (may be null), keeping
    // the folder open so that it cannot be renamed or deleted until Remove,
    // then creates the marker in it and keeps it open. A marker that cannot be made
    // removes the folder again. The failure's code is the Win32 error; the
    // message is empty (the caller knows what to log).
    Status Create(const CString& path, SECURITY_ATTRIBUTES* security);
    // Create on "<tempFolder><GUID>" (tempFolder ends in "\"), the GUID text
    // from MakeGuidText(create); while the name is taken, again with a new
    // GUID, attempts times in all. *tried is the last path tried.
    Status CreateFresh(const CString& tempFolder, SECURITY_ATTRIBUTES* security, int attempts, GuidCreator create,
                       CString* tried);

    bool Created() const { return !path_.IsEmpty(); }
    const CString& Path() const { return path_; }

    // Lets the marker and the folder go and deletes the folder with DeleteTree, again after
    // each of kRemovalWaitsMs while something is left. What is still there
    // then is logged in one record and scheduled for deletion at restart
    // (MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT, files before the folders
    // that hold them; links are scheduled as themselves, never entered).
    // Returns true when the folder is gone. Does nothing once done.
    bool Remove();

    // Deletes, from tempFolder (ending in "\"), the work folders of earlier
    // launches: folders (not links) named like a work folder that hold a
    // marker (a plain file) last written more than kStaleWorkFolderAge100ns
    // before now (FILETIME, UTC) and that can be opened without any sharing
    // (so not held by a running launch). Everything else is left alone, and
    // nothing is logged. Returns how many folders were deleted.
    static int SweepStale(const char* tempFolder, const FILETIME& now);

private:
    CString path_;
    // The folder itself, open from its creation until Remove deletes it.
    ObjectHandle folder_;
    HANDLE marker_ = INVALID_HANDLE_VALUE;
};
