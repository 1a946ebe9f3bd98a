// Conversions between UTF-8 and the UTF-16 text that resources hold.
#pragma once

#include <string>

// The UTF-16 units of utf8; false (out untouched) when utf8 is not well-formed
// UTF-8: a stray or missing continuation byte, an overlong form, a surrogate
// or a code point above U+10FFFF.
bool Utf8ToUtf16(const std::string& utf8, std::u16string* out);

// The UTF-8 bytes of UTF-16 units; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& units);
