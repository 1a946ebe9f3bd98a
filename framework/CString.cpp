// Counted single-byte string.
#include "CString.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "SystemApi.h"

CString::CString(const char* text, int length)
{
    if (text && length > 0)
        text_.assign(text, static_cast<size_t>(length));
}

CString::CString(char ch, int repeat)
{
    if (repeat > 0)
        text_.assign(static_cast<size_t>(repeat), ch);
}

CString& CString::operator=(const char* text)
{
    // Assigning from our own buffer must survive the reallocation.
    std::string copy(text ? text : "");
    text_.swap(copy);
    return *this;
}

CString operator+(const CString& a, const CString& b) { return CString(a.text_ + b.text_); }
CString operator+(const CString& a, const char* b) { return CString(a.text_ + (b ? b : "")); }
CString operator+(const char* a, const CString& b) { return CString((a ? a : "") + b.text_); }
CString operator+(const CString& a, char b) { return CString(a.text_ + b); }

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) {
        text_.clear();
        return;
    }
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text_.assign(buffer.data(), static_cast<size_t>(needed));
}

CString CString::Mid(int first) const { return Mid(first, GetLength()); }

CString CString::Mid(int first, int count) const
{
    if (first < 0)
        first = 0;
    if (count < 0 || first >= GetLength())
        return CString();
    return CString(text_.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

CString CString::Left(int count) const { return Mid(0, count); }

CString CString::Right(int count) const
{
    if (count <= 0)
        return CString();
    if (count >= GetLength())
        return *this;
    return Mid(GetLength() - count);
}

int CString::Find(char ch, int start) const
{
    if (start < 0 || start >= GetLength())
        return -1;
    size_t at = text_.find(ch, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(const char* sub, int start) const
{
    if (!sub || start < 0 || start > GetLength())
        return -1;
    size_t at = text_.find(sub, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::ReverseFind(char ch) const
{
    size_t at = text_.rfind(ch);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::FindOneOf(const char* charSet) const
{
    if (!charSet)
        return -1;
    size_t at = text_.find_first_of(charSet);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

CString& CString::MakeUpper()
{
    for (char& c : text_)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return *this;
}

CString& CString::MakeLower()
{
    for (char& c : text_)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return *this;
}

CString& CString::Trim(const char* charSet) { return TrimRight(charSet).TrimLeft(charSet); }

CString& CString::TrimLeft(const char* charSet)
{
    size_t first = text_.find_first_not_of(charSet);
    text_.erase(0, first == std::string::npos ? text_.size() : first);
    return *this;
}

CString& CString::TrimRight(const char* charSet)
{
    size_t last = text_.find_last_not_of(charSet);
    text_.erase(last == std::string::npos ? 0 : last + 1);
    return *this;
}

int CString::Compare(const char* other) const { return std::strcmp(text_.c_str(), other ? other : ""); }

int CString::CompareNoCase(const char* other) const { return ::CompareNoCase(text_.c_str(), other ? other : ""); }

char* CString::GetBuffer(int minLength)
{
    if (minLength > GetLength())
        text_.resize(static_cast<size_t>(minLength), '\0');
    return text_.data();
}

void CString::ReleaseBuffer(int newLength)
{
    if (newLength < 0)
        newLength = static_cast<int>(std::strlen(text_.c_str()));
    if (newLength < GetLength())
        text_.resize(static_cast<size_t>(newLength));
}
