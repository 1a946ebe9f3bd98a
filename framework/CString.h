// Counted single-byte string with the application framework's names.
//
// Text is held in the system ANSI code page; multi-byte characters are plain
// bytes here. Index arguments follow the framework: out-of-range starts clamp,
// negative counts mean "nothing".
#pragma once

#include <cstdarg>
#include <string>

class CString {
public:
    CString() = default;
    CString(const char* text) : text_(text ? text : "") {}
    CString(const char* text, int length);
    CString(char ch, int repeat = 1);

    int GetLength() const { return static_cast<int>(text_.size()); }
    bool IsEmpty() const { return text_.empty(); }
    void Empty() { text_.clear(); }

    operator const char*() const { return text_.c_str(); }
    const char* GetString() const { return text_.c_str(); }
    char GetAt(int index) const { return text_.at(static_cast<size_t>(index)); }
    char operator[](int index) const { return GetAt(index); }
    void SetAt(int index, char ch) { text_.at(static_cast<size_t>(index)) = ch; }

    CString& operator=(const char* text);
    CString& operator+=(const CString& other) { text_ += other.text_; return *this; }
    CString& operator+=(const char* text) { text_ += text ? text : ""; return *this; }
    CString& operator+=(char ch) { text_ += ch; return *this; }

    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, const char* b);
    friend CString operator+(const char* a, const CString& b);
    friend CString operator+(const CString& a, char b);

    // printf-style; replaces the content.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* format, va_list args);

    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Left(int count) const;
    CString Right(int count) const;

    // Index of the first match at or after start, or -1.
    int Find(char ch, int start = 0) const;
    int Find(const char* sub, int start = 0) const;
    int ReverseFind(char ch) const;
    int FindOneOf(const char* charSet) const;

    CString& MakeUpper();
    CString& MakeLower();
    CString& Trim(const char* charSet = " \t\r\n");
    CString& TrimLeft(const char* charSet = " \t\r\n");
    CString& TrimRight(const char* charSet = " \t\r\n");

    int Compare(const char* other) const;        // exact
    int CompareNoCase(const char* other) const;  // lstrcmpiA

    // Direct access for calls that fill a buffer: the string is grown to at
    // least minLength bytes; ReleaseBuffer(-1) cuts it at the first zero byte.
    char* GetBuffer(int minLength);
    void ReleaseBuffer(int newLength = -1);

    const std::string& str() const { return text_; }

private:
    explicit CString(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

inline bool operator==(const CString& a, const CString& b) { return a.str() == b.str(); }
inline bool operator==(const CString& a, const char* b) { return a.str() == (b ? b : ""); }
inline bool operator==(const char* a, const CString& b) { return b == a; }
inline bool operator!=(const CString& a, const CString& b) { return !(a == b); }
inline bool operator!=(const CString& a, const char* b) { return !(a == b); }
inline bool operator<(const CString& a, const CString& b) { return a.str() < b.str(); }
