// CString and CStringArray behaviour the launcher relies on.
#include <gtest/gtest.h>

#include "CString.h"
#include "CStringArray.h"

TEST(CStringTest, FindOneOfAndMidTakeTheTailFromTheFirstSlash)
{
    CString line("\"C:\\Setup.exe\" foo /S /v\"x\"");
    int at = line.FindOneOf("/");
    ASSERT_EQ(19, at);
    EXPECT_STREQ("/S /v\"x\"", line.Mid(at));
    EXPECT_EQ(-1, CString("plain").FindOneOf("/"));
    EXPECT_STREQ("", CString("abc").Mid(7));
    EXPECT_STREQ("bc", CString("abc").Mid(1, 99));
}

TEST(CStringTest, FormatHandlesLongOutputAndPercentSigns)
{
    CString s;
    s.Format("%s\\%s %%ORG%% %lu", "C:\\T", "x", 42ul);
    EXPECT_STREQ("C:\\T\\x %ORG% 42", s);
    std::string big(5000, 'a');
    s.Format("%s!", big.c_str());
    EXPECT_EQ(5001, s.GetLength());
}

TEST(CStringTest, ConcatenationTrimAndCaseKeepBytesAboveAscii)
{
    CString a("ab");
    a += "\xD6\xD0";
    a += 'c';
    EXPECT_STREQ("ab\xD6\xD0" "c", a);
    EXPECT_STREQ("AB\xD6\xD0" "C", CString(a).MakeUpper());
    CString v("  readme.txt ;");
    EXPECT_STREQ("readme.txt", v.Trim(" ;"));
    EXPECT_STREQ("x" "ab", "x" + CString("ab"));
    EXPECT_EQ(0, CString("Setup.CFG").CompareNoCase("setup.cfg"));
    EXPECT_NE(0, CString("Setup.CFG").Compare("setup.cfg"));
}

TEST(CStringTest, GetBufferReleaseBufferCutsAtTheTerminator)
{
    CString s;
    char* p = s.GetBuffer(10);
    p[0] = 'h';
    p[1] = 'i';
    p[2] = '\0';
    s.ReleaseBuffer();
    EXPECT_EQ(2, s.GetLength());
    EXPECT_STREQ("hi", s);
}

TEST(CStringArrayTest, AddInsertRemoveKeepOrder)
{
    CStringArray names;
    EXPECT_EQ(0, names.Add("a"));
    EXPECT_EQ(1, names.Add("b"));
    names.Add("c");
    names.RemoveAt(0);
    ASSERT_EQ(2, names.GetSize());
    EXPECT_STREQ("b", names[0]);
    EXPECT_STREQ("c", names.GetAt(1));
    names.InsertAt(1, "x");
    EXPECT_STREQ("x", names[1]);
    names.RemoveAll();
    EXPECT_TRUE(names.IsEmpty());
}
