// Dialog data exchange between controls and members.
#include "DataExchange.h"

#include "CWnd.h"

HWND CDataExchange::PrepareCtrl(int id)
{
    HWND control = failed_ || !m_pDlgWnd ? nullptr : GetDlgItem(m_pDlgWnd->m_hWnd, id);
    if (!control)
        Fail();
    return control;
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control)
{
    if (control.m_hWnd)
        return;
    if (!pDX->PrepareCtrl(id) || !control.BindDlgItem(id, pDX->m_pDlgWnd))
        pDX->Fail();
}

void DDX_Text(CDataExchange* pDX, int id, CString& value)
{
    HWND control = pDX->PrepareCtrl(id);
    if (!control)
        return;
    if (!pDX->m_bSaveAndValidate) {
        SetWindowTextA(control, value);
        return;
    }
    int length = GetWindowTextLengthA(control);
    char* buffer = value.GetBuffer(length + 1);
    GetWindowTextA(control, buffer, length + 1);
    value.ReleaseBuffer();
}
