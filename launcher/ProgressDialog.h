// The launcher's progress window: one modeless dialog with a label and a bar.
#pragma once

#include "CDialog.h"
#include "CProgressCtrl.h"
#include "CStatic.h"
#include "CString.h"

class ProgressDialog : public CDialog {
public:
    explicit ProgressDialog(CWnd* parent = nullptr);
    ~ProgressDialog() override = default;

    // Creates the window from template 101 without an owner; parent is not
    // used. Non-zero when the window exists.
    virtual BOOL CreateModeless(CWnd* parent);

    CStatic label;       // control 1002
    CProgressCtrl bar;   // control 1000
    CString labelText;   // exchanged with control 1002

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    // Centres the window on the screen, raises it, shows string 102 in the
    // label and the bar at 0 of 0..100, then shows the window. Returns TRUE.
    BOOL OnInitDialog() override;
};

// The single process-wide progress window. All four do nothing harmful when
// called out of order.

// Creates and shows the window unless one exists already, painted at once.
void ShowProgress();
// Moves the bar to position (0..100); nothing when there is no window.
void SetProgress(int position);
// Destroys the window and the instance; nothing when there is none.
void CloseProgress();
// Dispatches the messages already queued for the window; never waits.
// Returns at once when there is no window.
void PumpMessages();
