// A test build of Setup.exe whose work folder's volume has as many free bytes as OEM_TEST_FREE_BYTES says.
#include <windows.h>

#include <cstdlib>

#include "LauncherApp.h"

namespace {

class SmallVolumeLauncher : public LauncherApp {
protected:
    bool QueryFreeSpace(const CString&, uint64_t* freeBytes) override
    {
        char text[32] = {};
        const DWORD length = GetEnvironmentVariableA("OEM_TEST_FREE_BYTES", text, sizeof text);
        if (length == 0 || length >= sizeof text)
            return false;
        *freeBytes = std::strtoull(text, nullptr, 10);
        return true;
    }
};

}  // namespace

SmallVolumeLauncher theApp;
