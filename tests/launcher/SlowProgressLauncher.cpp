// A test build of Setup.exe whose long steps wait OEM_TEST_PROGRESS_DELAY_MS each time the bar moves with them.
#include <windows.h>

#include <cstdlib>

#include "LauncherApp.h"

namespace {

// Makes writing setup.oem and unpacking and checking the installer take as
// long as a big package on a slow disk would, whatever this machine's speed.
// At 100 it waits four times as long, so that a probe asking every 100 ms
// sees the bar there before the window closes.
class SlowProgressLauncher : public LauncherApp {
protected:
    void ProgressMoved(int position) override
    {
        char text[16] = {};
        const DWORD length = GetEnvironmentVariableA("OEM_TEST_PROGRESS_DELAY_MS", text, sizeof text);
        if (length == 0 || length >= sizeof text)
            return;
        const DWORD delay = static_cast<DWORD>(std::strtoul(text, nullptr, 10));
        Sleep(position >= 100 ? 4 * delay : delay);
    }
};

}  // namespace

SlowProgressLauncher theApp;
