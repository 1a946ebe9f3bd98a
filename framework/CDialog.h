// Dialog window of the framework, created modeless from a dialog template resource.
#pragma once

#include "CWnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId = 0, CWnd* parent = nullptr)
        : m_nIDTemplate(templateId), m_pParentWnd(parent) {}
    ~CDialog() override = default;

    // Creates the modeless window from template templateId of the resource
    // module (AfxGetResourceHandle) with parent's window as its owner, running
    // OnInitDialog on the way. The progress bar class ("msctls_progress32") is
    // registered first. Returns TRUE when the window exists; FALSE otherwise,
    // with the last-error value of the failed creation, or ERROR_INVALID_PARAMETER
    // when this object has a window already.
    BOOL Create(UINT templateId, CWnd* parent = nullptr);

    // Runs UpdateData(FALSE), so the members' values reach the controls and
    // DDX_Control bindings exist from here on. Returns TRUE: focus goes to the
    // first control.
    virtual BOOL OnInitDialog();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};
