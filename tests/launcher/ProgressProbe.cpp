// Starts a launcher and asks its progress window, from outside, whether it answers and where its bar stands.
//
// Usage: ProgressProbe <log file> <launcher> [arguments...]. Every interval
// (100 ms) it sends the window WM_NULL with SendMessageTimeoutA
// (SMTO_ABORTIFHUNG | SMTO_BLOCK, 500 ms), then, when it answered, PBM_GETPOS
// to its bar the same way, and appends one line to the log (flushed at once, so that a script can
// follow it):
//   window <left> <top> <width> <height> bar <l> <t> <w> <h> label <l> <t> <w> <h>   (once, screen pixels)
//   text <the label's text, GetWindowTextW, as UTF-8>    (once, after the first answer)
//   probe <ms since start> <answered 0|1> <ms the answer took> <bar position, -1 unread>
//   reached 100                                        (probing stops there)
//   exit <launcher's exit code> <ms since start>
// Probing also stops when the window has gone. Exit code 0 when the launcher
// ran to its end, 1 when it could not be started or did not end in 10 minutes.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "resource.h"

namespace {

constexpr DWORD kIntervalMs = 100;
constexpr UINT kAnswerTimeoutMs = 500;
constexpr DWORD kLaunchLimitMs = 600000;

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK TakeDialogOf(HWND window, LPARAM context)
{
    Search& search = *reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (owner != search.processId || lstrcmpA(className, "#32770") != 0)
        return TRUE;
    search.found = window;
    return FALSE;
}

HWND ProgressWindowOf(DWORD processId)
{
    Search search{processId, nullptr};
    EnumWindows(TakeDialogOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The label's text as the window holds it, in UTF-8.
std::string LabelText(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(GetDlgItem(window, IDC_PROGRESS_LABEL), text, 512);
    char utf8[2048] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

std::string RectText(HWND window)
{
    RECT rect = {};
    if (!window || !GetWindowRect(window, &rect))
        return "0 0 0 0";
    return std::to_string(rect.left) + " " + std::to_string(rect.top) + " " + std::to_string(rect.right - rect.left) +
           " " + std::to_string(rect.bottom - rect.top);
}

// Quotes one argument for a command line the way the C runtime splits it back.
std::string Quoted(const char* argument)
{
    std::string text = "\"";
    for (const char* c = argument; *c; ++c) {
        if (*c == '"')
            text += '\\';
        text += *c;
    }
    return text + "\"";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: ProgressProbe <log file> <launcher> [arguments...]\n");
        return 2;
    }
    FILE* log = std::fopen(argv[1], "w");
    if (!log)
        return 1;
    std::string commandLine = Quoted(argv[2]);
    for (int i = 3; i < argc; ++i)
        commandLine += std::string(" ") + argv[i];
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const DWORD start = GetTickCount();
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(log, "cannot start %s, error %lu\n", commandLine.c_str(), GetLastError());
        std::fclose(log);
        return 1;
    }
    HWND window = nullptr;
    bool probing = true;
    bool textLogged = false;
    DWORD next = start;
    while (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT && GetTickCount() - start < kLaunchLimitMs) {
        if (probing) {
            if (!window && (window = ProgressWindowOf(process.dwProcessId)) != nullptr) {
                std::fprintf(log, "window %s bar %s label %s\n", RectText(window).c_str(),
                             RectText(GetDlgItem(window, IDC_PROGRESS_BAR)).c_str(),
                             RectText(GetDlgItem(window, IDC_PROGRESS_LABEL)).c_str());
            }
            if (window && !IsWindow(window)) {
                probing = false;
            } else if (window) {
                const DWORD asked = GetTickCount();
                DWORD_PTR result = 0;
                const bool answered = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                                          kAnswerTimeoutMs, &result) != 0;
                const DWORD took = GetTickCount() - asked;
                // A window that did not answer would keep the next question waiting too.
                long position = -1;
                if (answered && SendMessageTimeoutA(GetDlgItem(window, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                        kAnswerTimeoutMs, &result))
                    position = static_cast<long>(result);
                // Once the window answers, its dialog has set the label's text.
                if (answered && !textLogged) {
                    std::fprintf(log, "text %s\n", LabelText(window).c_str());
                    textLogged = true;
                }
                std::fprintf(log, "probe %lu %d %lu %ld\n", asked - start, answered ? 1 : 0, took, position);
                std::fflush(log);
                if (position == 100) {
                    std::fprintf(log, "reached 100\n");
                    probing = false;
                }
            }
            std::fflush(log);
        }
        next += kIntervalMs;
        const DWORD now = GetTickCount();
        if (static_cast<LONG>(next - now) > 0)
            WaitForSingleObject(process.hProcess, next - now);
        else
            next = now;
    }
    const bool ended = WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    std::fprintf(log, ended ? "exit %lu %lu\n" : "no exit %lu %lu\n", exitCode, GetTickCount() - start);
    std::fclose(log);
    if (!ended)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended ? 0 : 1;
}
