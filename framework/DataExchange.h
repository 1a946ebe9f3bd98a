// Dialog data exchange: moving values between a window's controls and its members.
#pragma once

#include <windows.h>

#include "CString.h"

class CWnd;

class CDataExchange {
public:
    CDataExchange(CWnd* dlgWnd, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dlgWnd) {}

    // The control id of the dialog, or null after marking the exchange failed.
    HWND PrepareCtrl(int id);
    // Marks the exchange failed; later exchanges of the same run do nothing.
    void Fail() { failed_ = true; }
    bool Failed() const { return failed_; }

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;

private:
    bool failed_ = false;
};

// Binds control to the dialog's control id, once: an object already bound is
// left as it is. A missing control fails the exchange.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// Saving reads the control's text into value; otherwise writes value into it.
void DDX_Text(CDataExchange* pDX, int id, CString& value);
