// Application object registry and start-up sequence.
#include "CWinApp.h"

namespace {

CWinApp* theApp = nullptr;

}  // namespace

CWinApp::CWinApp(const char* appName) : m_pszAppName(appName) { theApp = this; }

CWinApp::~CWinApp()
{
    if (theApp == this)
        theApp = nullptr;
}

int CWinApp::Run()
{
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return ExitInstance();
}

CWinApp* AfxGetApp() { return theApp; }

HINSTANCE AfxGetInstanceHandle()
{
    return theApp && theApp->m_hInstance ? theApp->m_hInstance : GetModuleHandleA(nullptr);
}

HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

void AfxEnableControlContainer(void*) {}

BOOL Enable3dControls() { return TRUE; }

int AfxWinMain(HINSTANCE instance)
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return -1;
    app->m_hInstance = instance;
    if (!app->InitInstance())
        return app->ExitInstance();
    return app->Run();
}
