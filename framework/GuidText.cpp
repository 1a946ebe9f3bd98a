// GUID text for the work and unpack folders.
#include "GuidText.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

void StoreLittleEndian(unsigned char* out, DWORD value)
{
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
    out[2] = static_cast<unsigned char>(value >> 16);
    out[3] = static_cast<unsigned char>(value >> 24);
}

}  // namespace

GUID MakeFallbackGuid()
{
    unsigned char bytes[16];
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    StoreLittleEndian(bytes, now.dwLowDateTime);
    StoreLittleEndian(bytes + 4, now.dwHighDateTime);
    srand(static_cast<unsigned>(time(nullptr)));
    DWORD first = static_cast<DWORD>(rand());
    DWORD second = static_cast<DWORD>(rand());
    StoreLittleEndian(bytes + 8, first * second);
    StoreLittleEndian(bytes + 12, GetTickCount());
    GUID guid;
    static_assert(sizeof guid == sizeof bytes, "a GUID is 16 bytes");
    memcpy(&guid, bytes, sizeof guid);
    return guid;
}

CString FormatGuidText(const GUID& guid)
{
    wchar_t wide[100] = {};
    char text[100] = {};
    if (StringFromGUID2(guid, wide, 100) == 0)
        return CString();
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return CString(text);
}

CString MakeGuidText(GuidCreator create)
{
    GUID guid;
    if (FAILED(create(&guid)))
        guid = MakeFallbackGuid();
    return FormatGuidText(guid);
}
