// Opens the progress window the way the launcher does and holds it for a screenshot.
//
// Usage: progress_window_demo <ready file> <release file>. Shows the window at
// 40 %, writes the window's screen rectangle ("left top width height") to the
// ready file, then waits for the release file (at most one minute) without
// pumping messages, as the launcher works; closes the window and pumps once,
// as the launcher does before it waits for the installer. Exit code 0 when the
// window opened.
#include <windows.h>

#include <cstdio>

#include "ProgressDialog.h"

namespace {

BOOL CALLBACK TakeDialog(HWND window, LPARAM found)
{
    char className[16] = {};
    GetClassNameA(window, className, sizeof(className));
    if (lstrcmpA(className, "#32770") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: progress_window_demo <ready file> <release file>\n");
        return 2;
    }
    ShowProgress();
    SetProgress(40);
    // The progress window is this thread's only dialog.
    HWND window = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), TakeDialog, reinterpret_cast<LPARAM>(&window));
    RECT rect;
    if (!window || !GetWindowRect(window, &rect)) {
        std::fprintf(stderr, "progress window did not open\n");
        return 1;
    }
    FILE* ready = std::fopen(argv[1], "w");
    if (!ready)
        return 1;
    std::fprintf(ready, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    std::fclose(ready);

    for (int waited = 0; waited < 60000 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; waited += 50)
        Sleep(50);
    CloseProgress();
    PumpMessages();
    return 0;
}
