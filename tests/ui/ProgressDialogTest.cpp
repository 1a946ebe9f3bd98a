// The progress window on screen: label, bar, single instance and message pumping.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ProgressDialog.h"
#include "resource.h"

namespace {

const wchar_t kExpectedLabel[] = L"正在安装，请稍候...";

BOOL CALLBACK CollectDialog(HWND window, LPARAM found)
{
    char className[64] = {};
    GetClassNameA(window, className, sizeof(className));
    if (lstrcmpA(className, "#32770") == 0)
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

// Every dialog window of this thread: the progress window is the only one.
std::vector<HWND> ProgressWindows()
{
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND OnlyProgressWindow()
{
    std::vector<HWND> windows = ProgressWindows();
    return windows.size() == 1 ? windows[0] : nullptr;
}

std::wstring WideText(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

bool QueueHolds(HWND window, UINT message)
{
    MSG msg;
    return PeekMessageA(&msg, window, message, message, PM_NOREMOVE) != FALSE;
}

void DrainQueue()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

class ProgressWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ProgressWindows().empty()); }
    void TearDown() override
    {
        CloseProgress();
        DrainQueue();
    }
};

}  // namespace

// The program runs twice, under code pages 1252 and 936; make sure the locale
// the run was started for is the one in effect.
TEST(ProgressWindowLocale, RunsUnderTheRequestedCodePage)
{
    const char* expected = std::getenv("OEM_EXPECT_ACP");
    if (!expected)
        GTEST_SKIP() << "no code page requested";
    EXPECT_EQ(static_cast<UINT>(std::atoi(expected)), GetACP());
}

TEST_F(ProgressWindowTest, ShowOpensOneVisibleCaptionlessWindowCentredOnTheScreen)
{
    ShowProgress();
    HWND dialog = OnlyProgressWindow();
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(IsWindowVisible(dialog));
    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_NE(static_cast<LONG>(WS_CAPTION), style & WS_CAPTION);
    EXPECT_EQ(0, style & WS_SYSMENU);
    EXPECT_EQ(0, GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(nullptr, GetWindow(dialog, GW_OWNER));

    RECT window;
    RECT area;
    ASSERT_TRUE(GetWindowRect(dialog, &window));
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0));
    EXPECT_NEAR((area.left + area.right) / 2, (window.left + window.right) / 2, 1);
    EXPECT_NEAR((area.top + area.bottom) / 2, (window.top + window.bottom) / 2, 1);
}

TEST_F(ProgressWindowTest, LabelReadsTheInstallMessageOnEveryCodePage)
{
    ShowProgress();
    HWND dialog = OnlyProgressWindow();
    ASSERT_NE(nullptr, dialog);
    HWND label = GetDlgItem(dialog, IDC_PROGRESS_LABEL);
    ASSERT_NE(nullptr, label);
    EXPECT_EQ(std::wstring(kExpectedLabel), WideText(label));
    EXPECT_TRUE(GetWindowLongA(label, GWL_STYLE) & SS_CENTER);

    // Where the code page can spell the text, the ANSI view agrees with it.
    char ansi[64] = {};
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, kExpectedLabel, -1, ansi, sizeof(ansi), nullptr, &lossy);
    if (!lossy) {
        char shown[64] = {};
        GetWindowTextA(label, shown, sizeof(shown));
        EXPECT_STREQ(ansi, shown);
    }
}

TEST_F(ProgressWindowTest, BarRunsFromZeroToHundredAndFollowsSetProgress)
{
    ShowProgress();
    HWND dialog = OnlyProgressWindow();
    ASSERT_NE(nullptr, dialog);
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
    ASSERT_NE(nullptr, bar);
    char className[64] = {};
    GetClassNameA(bar, className, sizeof(className));
    EXPECT_EQ(0, lstrcmpiA(PROGRESS_CLASSA, className));

    EXPECT_EQ(0, SendMessageA(bar, PBM_GETRANGE, TRUE, 0));
    EXPECT_EQ(100, SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
    EXPECT_EQ(0, SendMessageA(bar, PBM_GETPOS, 0, 0));
    for (int position : {10, 40, 70, 100, 20}) {
        SetProgress(position);
        EXPECT_EQ(position, SendMessageA(bar, PBM_GETPOS, 0, 0));
    }
}

TEST_F(ProgressWindowTest, SecondShowKeepsTheFirstWindowAndItsPosition)
{
    ShowProgress();
    HWND first = OnlyProgressWindow();
    ASSERT_NE(nullptr, first);
    SetProgress(40);
    ShowProgress();
    EXPECT_EQ(std::vector<HWND>{first}, ProgressWindows());
    EXPECT_EQ(40, SendMessageA(GetDlgItem(first, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0));
}

TEST_F(ProgressWindowTest, CloseDestroysTheWindowAndAllowsANewOne)
{
    ShowProgress();
    HWND first = OnlyProgressWindow();
    ASSERT_NE(nullptr, first);
    HWND bar = GetDlgItem(first, IDC_PROGRESS_BAR);
    SetProgress(70);
    CloseProgress();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(IsWindow(bar));
    EXPECT_TRUE(ProgressWindows().empty());

    // The instance is gone too: the next window starts afresh at 0.
    ShowProgress();
    HWND second = OnlyProgressWindow();
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(0, SendMessageA(GetDlgItem(second, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0));
}

TEST_F(ProgressWindowTest, CallsWithoutAWindowDoNothing)
{
    SetProgress(50);
    CloseProgress();
    CloseProgress();
    EXPECT_TRUE(ProgressWindows().empty());
    ShowProgress();
    HWND dialog = OnlyProgressWindow();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(0, SendMessageA(GetDlgItem(dialog, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0));
}

TEST_F(ProgressWindowTest, PumpWithoutAWindowReadsNothing)
{
    ShowProgress();
    CloseProgress();
    DrainQueue();
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_APP, 1, 2));
    PumpMessages();
    EXPECT_TRUE(QueueHolds(nullptr, WM_APP));
}

TEST_F(ProgressWindowTest, PumpDrainsOnlyTheWindowsOwnMessages)
{
    ShowProgress();
    HWND dialog = OnlyProgressWindow();
    ASSERT_NE(nullptr, dialog);
    DrainQueue();
    ASSERT_TRUE(PostMessageA(dialog, WM_APP + 1, 0, 0));
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0));
    PumpMessages();
    EXPECT_FALSE(QueueHolds(dialog, WM_APP + 1));
    EXPECT_TRUE(QueueHolds(nullptr, WM_APP));
}
