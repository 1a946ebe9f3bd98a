// Application object of the framework: one static instance per program.
//
// The program's entry point (AppMain_win32.cpp) constructs nothing: it takes
// the one CWinApp that static construction registered, calls InitInstance, and
// when that returns FALSE ends the process with ExitInstance's result.
#pragma once

#include <windows.h>

class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return TRUE; }
    // Runs the message loop; only reached when InitInstance returns TRUE.
    virtual int Run();
    // The process exit code.
    virtual int ExitInstance() { return 0; }

    HINSTANCE m_hInstance = nullptr;
    const char* m_pszAppName = nullptr;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
void AfxEnableControlContainer(void* occManager = nullptr);
BOOL Enable3dControls();

// The entry point's work, callable from tests: returns the exit code.
int AfxWinMain(HINSTANCE instance);
