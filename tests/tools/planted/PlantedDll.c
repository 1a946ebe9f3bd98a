/* A stand-in for a system DLL planted beside a program: loading it leaves a marker file. */
#include <windows.h>

/* Writes "<this DLL's path>.loaded" naming the program that loaded it: the
   file's presence is the proof that the DLL beside the program ran. */
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char path[MAX_PATH + 8];
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    lstrcatA(path, ".loaded");
    char program[MAX_PATH] = "";
    GetModuleFileNameA(NULL, program, MAX_PATH);
    HANDLE marker = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(marker, program, (DWORD)lstrlenA(program), &written, NULL);
        WriteFile(marker, "\r\n", 2, &written, NULL);
        CloseHandle(marker);
    }
    return TRUE;
}

/* The exports the programs import or look up, failing as the real ones do
   when they cannot help: the marker, not these, is what the tests look at. */
DWORD WINAPI PlantedGetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle)
{
    (void)path;
    if (handle)
        *handle = 0;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}

BOOL WINAPI PlantedGetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD size, LPVOID data)
{
    (void)path, (void)handle, (void)size, (void)data;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
}

BOOL WINAPI PlantedVerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* value, PUINT length)
{
    (void)block, (void)subBlock, (void)value, (void)length;
    return FALSE;
}

void WINAPI PlantedInitCommonControls(void) {}

BOOL WINAPI PlantedInitCommonControlsEx(LPVOID classes)
{
    (void)classes;
    return FALSE;
}
