// Dialog framework: creation from a template, control bindings and data exchange.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "CDialog.h"
#include "CProgressCtrl.h"
#include "CStatic.h"
#include "DataExchange.h"
#include "resource.h"

namespace {

// A dialog on the progress window's template exchanging one text, and on
// request a control the template does not have.
class TextDialog : public CDialog {
public:
    CStatic label;
    CProgressCtrl bar;
    CString text = "first";
    bool askForMissingControl = false;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDC_PROGRESS_LABEL, label);
        DDX_Control(pDX, IDC_PROGRESS_BAR, bar);
        if (askForMissingControl)
            DDX_Text(pDX, 4242, text);
        DDX_Text(pDX, IDC_PROGRESS_LABEL, text);
    }
};

std::string LabelText(HWND dialog)
{
    char buffer[128] = {};
    GetDlgItemTextA(dialog, IDC_PROGRESS_LABEL, buffer, sizeof(buffer));
    return buffer;
}

}  // namespace

TEST(DialogFramework, CreateBindsControlsAndUpdateDataMovesTextBothWays)
{
    TextDialog dialog;
    ASSERT_TRUE(dialog.Create(IDD_PROGRESS));
    EXPECT_EQ(GetDlgItem(dialog.m_hWnd, IDC_PROGRESS_LABEL), dialog.label.m_hWnd);
    EXPECT_EQ(&dialog.label, dialog.GetDlgItem(IDC_PROGRESS_LABEL));
    EXPECT_EQ(&dialog, CWnd::FromHandlePermanent(dialog.m_hWnd));
    EXPECT_EQ("first", LabelText(dialog.m_hWnd));  // the placeholder gave way
    EXPECT_FALSE(IsWindowVisible(dialog.m_hWnd));

    HWND boundLabel = dialog.label.m_hWnd;
    SetDlgItemTextA(dialog.m_hWnd, IDC_PROGRESS_LABEL, "typed");
    EXPECT_TRUE(dialog.UpdateData(TRUE));
    EXPECT_EQ(CString("typed"), dialog.text);
    dialog.text = "written";
    EXPECT_TRUE(dialog.UpdateData(FALSE));
    EXPECT_EQ("written", LabelText(dialog.m_hWnd));
    EXPECT_EQ(boundLabel, dialog.label.m_hWnd);

    dialog.bar.SetRange(0, 100);
    dialog.bar.SetPos(30);
    EXPECT_EQ(30, dialog.bar.GetPos());
}

TEST(DialogFramework, MissingControlOrWindowFailsTheExchange)
{
    TextDialog dialog;
    ASSERT_TRUE(dialog.Create(IDD_PROGRESS));
    dialog.askForMissingControl = true;
    dialog.text = "not written";
    EXPECT_FALSE(dialog.UpdateData(FALSE));
    EXPECT_EQ("first", LabelText(dialog.m_hWnd));  // the exchange stopped there

    TextDialog windowless;
    EXPECT_FALSE(windowless.UpdateData(FALSE));
}

TEST(DialogFramework, DestroyingTheWindowOrTheObjectEndsEveryBinding)
{
    TextDialog dialog;
    ASSERT_TRUE(dialog.Create(IDD_PROGRESS));
    HWND window = dialog.m_hWnd;
    HWND label = dialog.label.m_hWnd;
    CWnd* temporary = dialog.GetDlgItem(IDC_PROGRESS_BAR);
    ASSERT_NE(nullptr, temporary);
    EXPECT_EQ(GetDlgItem(window, IDC_PROGRESS_BAR), temporary->m_hWnd);

    EXPECT_TRUE(dialog.DestroyWindow());
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(nullptr, dialog.m_hWnd);
    EXPECT_EQ(nullptr, dialog.label.m_hWnd);
    EXPECT_EQ(nullptr, dialog.bar.m_hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(window));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(label));
    EXPECT_FALSE(dialog.DestroyWindow());

    {
        TextDialog scoped;
        ASSERT_TRUE(scoped.Create(IDD_PROGRESS));
        window = scoped.m_hWnd;
        label = scoped.label.m_hWnd;
    }
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindow(label));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(window));
}

TEST(DialogFramework, OneWindowPerObjectAndOneObjectPerWindow)
{
    TextDialog dialog;
    ASSERT_TRUE(dialog.Create(IDD_PROGRESS));
    HWND first = dialog.m_hWnd;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(dialog.Create(IDD_PROGRESS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(first, dialog.m_hWnd);

    TextDialog missing;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(missing.Create(4711));
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, missing.m_hWnd);

    CWnd other;
    EXPECT_FALSE(other.Attach(dialog.label.m_hWnd));
    HWND bar = dialog.bar.Detach();
    EXPECT_TRUE(other.Attach(bar));
    EXPECT_EQ(&other, CWnd::FromHandle(bar));
    EXPECT_EQ(bar, other.Detach());
    EXPECT_TRUE(IsWindow(bar));
}
