// The launcher's progress window and the four operations on its single instance.
#include "ProgressDialog.h"

#include <commctrl.h>

#include <new>

#include "CWinApp.h"
#include "DataExchange.h"
#include "resource.h"

namespace {

ProgressDialog* progressInstance = nullptr;

// The label through the ANSI interface: correct only where the system code
// page can spell it, so the window's text is set once more in wide characters.
CString LoadAnsiString(UINT id)
{
    char buffer[256] = {};
    LoadStringA(AfxGetResourceHandle(), id, buffer, sizeof(buffer));
    return CString(buffer);
}

}  // namespace

ProgressDialog::ProgressDialog(CWnd* parent) : CDialog(IDD_PROGRESS, parent) {}

BOOL ProgressDialog::CreateModeless(CWnd*)
{
    return Create(IDD_PROGRESS, nullptr);
}

void ProgressDialog::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROGRESS_LABEL, label);
    DDX_Control(pDX, IDC_PROGRESS_BAR, bar);
    DDX_Text(pDX, IDC_PROGRESS_LABEL, labelText);
}

BOOL ProgressDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    CenterWindow();
    SetWindowPos(&CWnd::wndTop, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    labelText = LoadAnsiString(IDS_PROGRESS_LABEL);
    SetDlgItemText(IDC_PROGRESS_LABEL, labelText);
    bar.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    bar.SendMessage(PBM_SETPOS, 0, 0);
    UpdateData(FALSE);
    // The data exchange has just written the ANSI text, which on a system
    // whose code page lacks these characters reads as question marks. The
    // wide string from the resource is right on every code page.
    WCHAR wideLabel[256] = {};
    if (LoadStringW(AfxGetResourceHandle(), IDS_PROGRESS_LABEL, wideLabel, 256) > 0)
        SetDlgItemTextW(m_hWnd, IDC_PROGRESS_LABEL, wideLabel);
    ShowWindow(SW_SHOW);
    return TRUE;
}

void ShowProgress()
{
    if (progressInstance)
        return;
    progressInstance = new (std::nothrow) ProgressDialog(nullptr);
    if (!progressInstance)
        return;
    progressInstance->CreateModeless(nullptr);
    // No messages are pumped while the launcher works, so a WM_PAINT would
    // never be fetched: paint the window and its label now.
    if (HWND window = progressInstance->m_hWnd)
        RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void SetProgress(int position)
{
    if (progressInstance)
        SendMessageA(progressInstance->bar.m_hWnd, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CloseProgress()
{
    if (!progressInstance)
        return;
    progressInstance->DestroyWindow();
    delete progressInstance;
    progressInstance = nullptr;
}

void PumpMessages()
{
    if (!progressInstance)
        return;
    MSG msg;
    HWND filter = progressInstance->m_hWnd;
    while (PeekMessageA(&msg, filter, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        // Something dispatched may have closed the window meanwhile.
        filter = progressInstance ? progressInstance->m_hWnd : nullptr;
    }
}
