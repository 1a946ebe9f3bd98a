// Install log records: format, limits, on-disk encodings, debugger output.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "ErrorLog.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

// Collects what OutputDebugStringA sends: it raises DBG_PRINTEXCEPTION_C with
// the length and the text, which a vectored handler sees before the system
// handles it.
class DebugCapture {
public:
    DebugCapture()
    {
        lines_.clear();
        handler_ = AddVectoredExceptionHandler(1, &DebugCapture::Handler);
    }
    ~DebugCapture() { RemoveVectoredExceptionHandler(handler_); }
    const std::vector<std::string>& Lines() const { return lines_; }

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info)
    {
        const EXCEPTION_RECORD* record = info->ExceptionRecord;
        if (record->ExceptionCode == 0x40010006 /* DBG_PRINTEXCEPTION_C */ && record->NumberParameters >= 2) {
            size_t length = static_cast<size_t>(record->ExceptionInformation[0]);
            const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
            // The length counts the terminator.
            lines_.emplace_back(text, length > 0 ? length - 1 : 0);
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }
    static std::vector<std::string> lines_;
    void* handler_;
};
std::vector<std::string> DebugCapture::lines_;

int Format(char* line, const SYSTEMTIME& time, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = FormatLogLine(line, time, format, args);
    va_end(args);
    return length;
}

SYSTEMTIME SampleTime()
{
    SYSTEMTIME time = {};
    time.wYear = 2016;
    time.wMonth = 7;
    time.wDay = 19;
    time.wHour = 9;
    time.wMinute = 5;
    time.wSecond = 3;
    return time;
}

std::string LogPath()
{
    char path[MAX_PATH];
    EXPECT_EQ(1, GetInstallLogPath(path));
    return path;
}

// Moves the real install log aside for the test and puts it back afterwards.
class InstallLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = LogPath();
        saved_ = ReadBytes(path_);
        hadLog_ = FileExists(path_);
        DeleteFileA(path_.c_str());
    }
    void TearDown() override
    {
        DeleteFileA(path_.c_str());
        if (hadLog_)
            WriteBytes(path_, saved_);
    }
    std::string path_;
    std::string saved_;
    bool hadLog_ = false;
};

}  // namespace

TEST(LogRecordFormat, PrefixMessageAndLineEnd)
{
    char line[kLogLineSize];
    int length = Format(line, SampleTime(), "Failure to open OEM data file %s", "C:\\T\\x");
    EXPECT_STREQ("Setup.exe 2016/07/19,09:05:03 :Failure to open OEM data file C:\\T\\x\r\n", line);
    EXPECT_EQ(static_cast<int>(strlen(line)), length);
    Format(line, SampleTime(), "Failure to copy %%ORG.SETUP.EXE%% to %s", "C:\\W\\setup.exe");
    EXPECT_STREQ("Setup.exe 2016/07/19,09:05:03 :Failure to copy %ORG.SETUP.EXE% to C:\\W\\setup.exe\r\n", line);
    Format(line, SampleTime(), "error:%lu.", 4294967295ul);
    EXPECT_STREQ("Setup.exe 2016/07/19,09:05:03 :error:4294967295.\r\n", line);
}

TEST(LogRecordFormat, MessageLimitIs1021CharactersWithPrefix)
{
    char line[kLogLineSize];
    const int prefix = 31;  // "Setup.exe 2016/07/19,09:05:03 :"
    std::string fits(kLogMessageLimit - prefix, 'a');
    EXPECT_EQ(kLogMessageLimit + 2, Format(line, SampleTime(), "%s", fits.c_str()));
    EXPECT_EQ(std::string("\r\n"), std::string(line + kLogMessageLimit));
    std::string tooLong(kLogMessageLimit - prefix + 1, 'a');
    EXPECT_EQ(kLogMessageLimit + 2, Format(line, SampleTime(), "%s", tooLong.c_str()));
    EXPECT_EQ("Setup.exe 2016/07/19,09:05:03 :" + std::string(kLogMessageLimit - prefix - 3, 'a') + "...\r\n",
              std::string(line));
}

TEST(LogRecordFormat, OverlongMessageIsCutWithAMark)
{
    char line[kLogLineSize];
    const int prefix = 31;
    // A long command line after the fixed text, and a tail far beyond the buffer.
    std::string head = "Failure to start \"C:\\W\\setup.exe\" ";
    std::string switches(3000, 'x');
    EXPECT_EQ(kLogMessageLimit + 2, Format(line, SampleTime(), "%s%s tail", head.c_str(), switches.c_str()));
    std::string text(line);
    EXPECT_EQ("Setup.exe 2016/07/19,09:05:03 :" + head, text.substr(0, prefix + head.size()));
    EXPECT_EQ(std::string(kLogMessageLimit - 3 - prefix - head.size(), 'x') + "...\r\n",
              text.substr(prefix + head.size()));
}

TEST(LogPath, RootOfTheWindowsDrive)
{
    EXPECT_STRCASEEQ("C:\\Vizoror.log", LogPath().c_str());
}

TEST(LogEncoding, NewLogIsTextModeAndLaterRecordsBinary)
{
    ScratchFolder folder;
    std::string path = folder / "log.txt";
    AppendLogRecord(path.c_str(), "first\r\n");
    AppendLogRecord(path.c_str(), "second\r\n");
    EXPECT_EQ(std::string("first\r\r\n\0second\r\n\0", 18), ReadBytes(path));
}

TEST(LogEncoding, Utf16LogGetsWideRecords)
{
    ScratchFolder folder;
    std::string path = folder / "log.txt";
    WriteBytes(path, std::string("\xFF\xFE", 2));
    AppendLogRecord(path.c_str(), "ab\r\n");
    EXPECT_EQ(std::string("\xFF\xFE" "a\0b\0\r\0\n\0\0\0", 12), ReadBytes(path));
}

TEST(LogEncoding, ShortOrOtherMarkGetsAnsiRecords)
{
    ScratchFolder folder;
    std::string oneByte = folder / "one.txt";
    WriteBytes(oneByte, "\xFF");
    AppendLogRecord(oneByte.c_str(), "x\r\n");
    EXPECT_EQ(std::string("\xFFx\r\n\0", 5), ReadBytes(oneByte));

    std::string bigEndian = folder / "be.txt";
    WriteBytes(bigEndian, "\xFE\xFF");
    AppendLogRecord(bigEndian.c_str(), "x\r\n");
    EXPECT_EQ(std::string("\xFE\xFFx\r\n\0", 6), ReadBytes(bigEndian));
}

TEST(LogEncoding, UnwritableLogIsSkippedSilently)
{
    ScratchFolder folder;
    std::string path = folder / "log.txt";
    WriteBytes(path, "old");
    HANDLE locked = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, locked);
    AppendLogRecord(path.c_str(), "x\r\n");
    CloseHandle(locked);
    EXPECT_EQ("old", ReadBytes(path));
}

TEST_F(InstallLogTest, RecordsAppendToTheRootLogWithDebuggerCopy)
{
    DebugCapture capture;
    SYSTEMTIME before;
    GetLocalTime(&before);
    SetLastError(0xdeadbeef);
    LogError("Failure to open OEM data file %s", "C:\\T\\x");
    EXPECT_EQ(0xdeadbeefu, GetLastError()) << "logging must not disturb the caller's error";
    LogError("Rate %d%%", 50);

    std::string log = ReadBytes(path_);
    size_t firstEnd = log.find(std::string("\r\r\n\0", 4));
    ASSERT_NE(std::string::npos, firstEnd) << "first record is written through text mode";
    std::string first = log.substr(0, firstEnd);
    std::string second = log.substr(firstEnd + 4);

    char prefix[64];
    snprintf(prefix, sizeof prefix, "Setup.exe %04u/%02u/%02u,", before.wYear, before.wMonth, before.wDay);
    EXPECT_EQ(0u, first.find(prefix)) << first;
    EXPECT_EQ(31u, first.find(" :") + 2);
    EXPECT_EQ("Failure to open OEM data file C:\\T\\x", first.substr(31));
    ASSERT_GE(second.size(), 34u);
    EXPECT_EQ("Rate 50%", second.substr(31, second.size() - 31 - 3));
    EXPECT_EQ(std::string("\r\n\0", 3), second.substr(second.size() - 3));

    ASSERT_EQ(2u, capture.Lines().size());
    EXPECT_EQ(first + "\r\n\n", capture.Lines()[0]);
    EXPECT_EQ(second.substr(0, second.size() - 1) + "\n", capture.Lines()[1]);
}

TEST_F(InstallLogTest, OverlongMessageLeavesACutRecordButNoDebuggerLine)
{
    DebugCapture capture;
    LogError("%s", std::string(kLogMessageLimit, 'z').c_str());
    std::string log = ReadBytes(path_);
    ASSERT_EQ(static_cast<size_t>(kLogMessageLimit) + 4, log.size()) << "one record of the full length, text mode";
    EXPECT_EQ(std::string(kLogMessageLimit - 31 - 3, 'z') + "..." + std::string("\r\r\n\0", 4), log.substr(31));
    EXPECT_TRUE(capture.Lines().empty()) << "a line of 490 characters or more never reaches the debugger";
}

TEST_F(InstallLogTest, LongLineReachesTheLogButNotTheDebugger)
{
    DebugCapture capture;
    const int prefix = 31, lineEnd = 2;
    std::string sent(kDebugPrintLimit - 1 - prefix - lineEnd, 's');
    std::string notSent(kDebugPrintLimit - prefix - lineEnd, 'n');
    LogError("%s", sent.c_str());
    LogError("%s", notSent.c_str());
    ASSERT_EQ(1u, capture.Lines().size());
    EXPECT_NE(std::string::npos, capture.Lines()[0].find(sent + "\r\n\n"));
    std::string log = ReadBytes(path_);
    EXPECT_NE(std::string::npos, log.find(notSent + std::string("\r\n\0", 3)));
}

TEST(DebugPrintOutput, AppendsNewlineAndDropsLongText)
{
    DebugCapture capture;
    DebugPrint("value %d", 7);
    DebugPrint("%s", std::string(kDebugPrintLimit - 1, 'x').c_str());
    DebugPrint("%s", std::string(kDebugPrintLimit, 'y').c_str());
    ASSERT_EQ(2u, capture.Lines().size());
    EXPECT_EQ("value 7\n", capture.Lines()[0]);
    EXPECT_EQ(std::string(kDebugPrintLimit - 1, 'x') + "\n", capture.Lines()[1]);
}
