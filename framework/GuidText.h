// Braced GUID text for per-run folder names, with a time-based fallback.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "CString.h"

// Length of "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" without its terminator.
constexpr int kGuidTextLength = 38;

using GuidCreator = HRESULT(WINAPI*)(GUID*);

// A GUID built without COM: bytes 0-7 the system time as a FILETIME (low word
// first), bytes 8-11 the wrapping product of two rand() results after
// srand(time(nullptr)), bytes 12-15 GetTickCount(); both 32-bit values little-endian.
GUID MakeFallbackGuid();

// The braced upper-case text of guid (StringFromGUID2) in the ANSI code page.
CString FormatGuidText(const GUID& guid);

// A new GUID from create (CoCreateGuid unless a test passes its own) as braced
// text; when create fails, the text of MakeFallbackGuid(). Always 38 characters.
CString MakeGuidText(GuidCreator create = CoCreateGuid);
