// Program entry point for programs built on CWinApp.
#include "CWinApp.h"
#include "SystemApi.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearchToSystemFolder();
    return AfxWinMain(instance);
}
