// CFile open flags, error numbers and exceptions, identical on both targets.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "CFile.h"
#include "SystemApi.h"

namespace {

std::string TempName(const char* leaf)
{
    const char* dir = std::getenv("TMPDIR");
#ifdef _WIN32
    if (!dir) dir = std::getenv("TEMP");
    std::string base = dir ? dir : ".";
    return base + "\\" + leaf;
#else
    std::string base = dir ? dir : "/tmp";
    return base + "/" + leaf;
#endif
}

}  // namespace

TEST(CFileTest, CreateWriteReadBack)
{
    std::string path = TempName("cfile_roundtrip.bin");
    {
        CFile f;
        CFileException error;
        ASSERT_EQ(1, f.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite, &error));
        f.Write("hello", 5);
        EXPECT_EQ(5u, f.GetLength());
        f.SeekToBegin();
        char buf[8] = {};
        EXPECT_EQ(5u, f.Read(buf, sizeof buf));
        EXPECT_STREQ("hello", buf);
        f.Close();
        EXPECT_FALSE(f.IsOpen());
    }
    // modeCreate truncates.
    CFile g(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    EXPECT_EQ(0u, g.GetLength());
    g.Close();
    std::remove(path.c_str());
}

TEST(CFileTest, LargeWriteArrivesWholeAndInOrder)
{
    // Three full megabytes and a tail: every byte tells its own offset.
    std::string path = TempName("cfile_large.bin");
    std::string data((3u << 20) + 123, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 7 + i / 65536) & 0xFF);
    {
        CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
        f.Write(data.data(), static_cast<unsigned>(data.size()));
        EXPECT_EQ(data.size(), f.GetLength());
        f.SeekToBegin();
        std::string back(data.size(), '\0');
        EXPECT_EQ(data.size(), f.Read(&back[0], static_cast<unsigned>(back.size())));
        EXPECT_TRUE(back == data) << "the written bytes differ from the buffer";
    }
    std::remove(path.c_str());
}

TEST(CFileTest, OpenMissingFileFillsTheExceptionWithTheOsError)
{
    std::string path = TempName("cfile_missing_dir_zz/none.bin");
#ifdef _WIN32
    path = TempName("cfile_missing_dir_zz\\none.bin");
#endif
    CFile f;
    CFileException error(CFileException::none, -1, nullptr);
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, f.Open(path.c_str(), CFile::modeRead, &error));
    EXPECT_EQ(static_cast<long>(kErrorPathNotFound), error.m_lOsError);
    EXPECT_EQ(CFileException::badPath, error.m_cause);
    EXPECT_STREQ(path.c_str(), error.m_strFileName);
    EXPECT_EQ(kErrorPathNotFound, GetLastErrorValue());

    std::string missing = TempName("cfile_surely_missing.bin");
    EXPECT_EQ(0, f.Open(missing.c_str(), CFile::modeRead, &error));
    EXPECT_EQ(static_cast<long>(kErrorFileNotFound), error.m_lOsError);
    EXPECT_EQ(CFileException::fileNotFound, error.m_cause);
}

TEST(CFileTest, ConstructorThrowsByValue)
{
    std::string missing = TempName("cfile_surely_missing2.bin");
    try {
        CFile f(missing.c_str(), CFile::modeRead);
        FAIL() << "no exception";
    } catch (CFileException e) {
        EXPECT_EQ(static_cast<long>(kErrorFileNotFound), e.m_lOsError);
    }
}
