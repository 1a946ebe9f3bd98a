// Modeless dialog creation from a template and the dialog procedure behind it.
#include "CDialog.h"

#include <commctrl.h>

#include "CWinApp.h"
#include "SystemApi.h"
#include "SystemLibrary.h"

namespace {

// The progress bar class lives in the common controls library, loaded from the
// system folder on first use: register it once.
void RegisterCommonControls()
{
    static bool registered = false;
    if (registered)
        return;
    static const SystemLibrary commonControls("comctl32.dll");
    INITCOMMONCONTROLSEX classes = {};
    classes.dwSize = sizeof(classes);
    classes.dwICC = ICC_PROGRESS_CLASS;
    decltype(&InitCommonControlsEx) initEx = nullptr;
    decltype(&InitCommonControls) init = nullptr;
    {
        LastErrorGuard keep;
        initEx = commonControls.Function<decltype(&InitCommonControlsEx)>("InitCommonControlsEx");
        init = commonControls.Function<decltype(&InitCommonControls)>("InitCommonControls");
    }
    registered = initEx && initEx(&classes) != FALSE;
    if (!registered) {
        if (init)
            init();
        registered = true;
    }
}

}  // namespace

BOOL CDialog::Create(UINT templateId, CWnd* parent)
{
    if (m_hWnd) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    m_nIDTemplate = templateId;
    m_pParentWnd = parent;
    RegisterCommonControls();
    HWND owner = parent ? parent->m_hWnd : nullptr;
    HWND window = CreateDialogParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(templateId), owner,
                                     &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    return window && m_hWnd == window ? TRUE : FALSE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
        if (!dialog || !dialog->Attach(window))
            return FALSE;
        SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
        return dialog->OnInitDialog();
    }
    if (message == WM_NCDESTROY) {
        // An object that let go of the window earlier is no longer ours to touch.
        CDialog* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
        if (dialog && FromHandlePermanent(window) == dialog)
            dialog->OnWindowGone();
    }
    return FALSE;
}
