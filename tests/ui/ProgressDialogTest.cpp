// The progress window on screen: look, label, bar, single instance and message pumping.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "ProgressDialog.h"
#include "resource.h"

namespace {

const wchar_t kExpectedLabel[] = L"正在安装，请稍候...";

BOOL CALLBACK Collect(HWND window, LPARAM found)
{
    char className[16] = {};
    GetClassNameA(window, className, sizeof(className));
    if (lstrcmpA(className, "#32770") == 0)
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

// The dialog windows of this thread; the system may add hidden windows of
// other classes (input method) beside them.
std::vector<HWND> ThreadWindows()
{
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND OnlyWindow()
{
    std::vector<HWND> windows = ThreadWindows();
    return windows.size() == 1 ? windows[0] : nullptr;
}

LRESULT BarPosition(HWND dialog) { return SendMessageA(GetDlgItem(dialog, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0); }

// The control's place in the dialog's client area, in dialog units.
void ExpectPlacedAt(HWND dialog, int id, RECT units)
{
    RECT placed;
    ASSERT_TRUE(GetWindowRect(GetDlgItem(dialog, id), &placed));
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&placed), 2);
    MapDialogRect(dialog, &units);
    EXPECT_EQ(units.left, placed.left) << id;
    EXPECT_EQ(units.top, placed.top) << id;
    EXPECT_EQ(units.right, placed.right) << id;
    EXPECT_EQ(units.bottom, placed.bottom) << id;
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
    void SetUp() override { ASSERT_TRUE(ThreadWindows().empty()); }
    void TearDown() override
    {
        CloseProgress();
        DrainQueue();
    }
};

}  // namespace

// The program runs under code pages 1252 and 936: make sure the one asked for is in effect.
TEST(ProgressWindowLocale, RunsUnderTheRequestedCodePage)
{
    const char* expected = std::getenv("OEM_EXPECT_ACP");
    if (!expected)
        GTEST_SKIP() << "no code page requested";
    EXPECT_EQ(static_cast<UINT>(std::atoi(expected)), GetACP());
}

TEST_F(ProgressWindowTest, ShowOpensACaptionlessOwnerlessWindowCentredOnTheScreen)
{
    ShowProgress();
    HWND dialog = OnlyWindow();
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

    ExpectPlacedAt(dialog, IDC_PROGRESS_BAR, {25, 35, 25 + 280, 35 + 14});
    ExpectPlacedAt(dialog, IDC_PROGRESS_LABEL, {27, 16, 27 + 261, 16 + 12});
}

TEST_F(ProgressWindowTest, LabelReadsTheInstallMessageOnEveryCodePage)
{
    ShowProgress();
    HWND label = GetDlgItem(OnlyWindow(), IDC_PROGRESS_LABEL);
    ASSERT_NE(nullptr, label);
    wchar_t text[64] = {};
    GetWindowTextW(label, text, 64);
    EXPECT_EQ(std::wstring(kExpectedLabel), text);
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
    HWND bar = GetDlgItem(OnlyWindow(), IDC_PROGRESS_BAR);
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

TEST_F(ProgressWindowTest, OneInstanceAtATime)
{
    // Without a window, setting and closing leave nothing behind.
    SetProgress(50);
    CloseProgress();
    EXPECT_TRUE(ThreadWindows().empty());

    ShowProgress();
    HWND first = OnlyWindow();
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(0, BarPosition(first));
    SetProgress(40);
    ShowProgress();
    EXPECT_EQ(std::vector<HWND>{first}, ThreadWindows());
    EXPECT_EQ(40, BarPosition(first));

    CloseProgress();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_TRUE(ThreadWindows().empty());
    CloseProgress();

    // The instance went with the window: the next one starts afresh.
    ShowProgress();
    HWND second = OnlyWindow();
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(0, BarPosition(second));
}

TEST_F(ProgressWindowTest, PumpDrainsOnlyTheWindowsMessagesAndNothingWithoutIt)
{
    ShowProgress();
    HWND dialog = OnlyWindow();
    ASSERT_NE(nullptr, dialog);
    DrainQueue();
    ASSERT_TRUE(PostMessageA(dialog, WM_APP + 1, 0, 0));
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0));
    PumpMessages();
    EXPECT_FALSE(QueueHolds(dialog, WM_APP + 1));
    EXPECT_TRUE(QueueHolds(nullptr, WM_APP));

    CloseProgress();
    PumpMessages();
    EXPECT_TRUE(QueueHolds(nullptr, WM_APP));
}

namespace {

// Asks the window from another thread, as another program would: 1 when its
// thread answered within 500 ms, and the bar's position then.
bool Answers(HWND dialog, LRESULT* position)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 500, &result))
        return false;
    if (!SendMessageTimeoutA(GetDlgItem(dialog, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0, SMTO_BLOCK, 500, &result))
        return false;
    *position = static_cast<LRESULT>(result);
    return true;
}

// The bar's position as the window's thread shows it, once it reads position
// (at most two seconds); -1 when the window never answered.
LRESULT AwaitPosition(HWND dialog, LRESULT position)
{
    LRESULT shown = -1;
    for (int i = 0; i < 40; ++i) {
        if (!Answers(dialog, &shown))
            return -1;
        if (shown == position)
            break;
        Sleep(50);
    }
    return shown;
}

}  // namespace

TEST_F(ProgressWindowTest, WorkOnItsOwnThreadMovesTheBarWhileTheWindowAnswersAndClosesItThroughItsThread)
{
    ShowProgress();
    HWND dialog = OnlyWindow();
    ASSERT_NE(nullptr, dialog);
    const DWORD windowThread = GetCurrentThreadId();
    DWORD workThread = windowThread;
    std::vector<LRESULT> shown;
    bool closedWhenAsked = false;
    RunWithProgress([&] {
        workThread = GetCurrentThreadId();
        for (int position : {30, 60, 90}) {
            SetProgress(position);
            shown.push_back(AwaitPosition(dialog, position));
        }
        // A long call without a word to the window: it still answers.
        Sleep(300);
        LRESULT position = -1;
        shown.push_back(Answers(dialog, &position) ? position : -1);
        CloseProgress();
        closedWhenAsked = !IsWindow(dialog);
        PumpMessages();
    });
    EXPECT_NE(windowThread, workThread);
    EXPECT_EQ((std::vector<LRESULT>{30, 60, 90, 90}), shown);
    EXPECT_TRUE(closedWhenAsked) << "CloseProgress returns once the window is gone";
    EXPECT_TRUE(ThreadWindows().empty());
}

TEST_F(ProgressWindowTest, WorkThatEndsWithoutClosingLeavesTheWindowAtItsLastPositionAndItsExceptionComesBack)
{
    // Without a window the work runs right here.
    DWORD workThread = 0;
    RunWithProgress([&] { workThread = GetCurrentThreadId(); });
    EXPECT_EQ(GetCurrentThreadId(), workThread);

    ShowProgress();
    HWND dialog = OnlyWindow();
    ASSERT_NE(nullptr, dialog);
    RunWithProgress([] { SetProgress(40); });
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(40, BarPosition(dialog));

    EXPECT_THROW(RunWithProgress([] {
                     SetProgress(55);
                     throw std::runtime_error("failed step");
                 }),
                 std::runtime_error);
    EXPECT_EQ(55, BarPosition(dialog));
    // Back on this thread, SetProgress moves the bar itself again.
    SetProgress(70);
    EXPECT_EQ(70, BarPosition(dialog));
}
