/* A program that imports version.dll the ordinary way: beside it, a planted DLL must load. */
#include <windows.h>

int main(void)
{
    DWORD handle = 0;
    return GetFileVersionInfoSizeA("ImportsVersion.exe", &handle) != 0 ? 0 : 1;
}
