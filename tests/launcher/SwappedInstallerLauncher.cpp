// A test build of Setup.exe that copies the file OEM_TEST_SWAP_INSTALLER over setup.exe right after unpacking it.
#include <windows.h>

#include "LauncherApp.h"

namespace {

// Does what a program of the same user may do while the work folder's access
// rules are not enforced: replace the installer before the launcher holds it.
class SwappedInstallerLauncher : public LauncherApp {
protected:
    void InstallerUnpacked(const CString& exePath) override
    {
        char swap[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableA("OEM_TEST_SWAP_INSTALLER", swap, sizeof swap);
        if (length != 0 && length < sizeof swap)
            CopyFileA(swap, exePath, FALSE);
    }
};

}  // namespace

SwappedInstallerLauncher theApp;
