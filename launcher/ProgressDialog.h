// The launcher's progress window: one modeless dialog with a label and a bar.
#pragma once

#include <functional>

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

// The single process-wide progress window. All of them do nothing harmful
// when called out of order.

// Creates and shows the window unless one exists already, painted at once.
void ShowProgress();
// Moves the bar to position (0..100); nothing when there is no window. On
// the thread that RunWithProgress runs work on, it only leaves the position
// for the window's own thread to show.
void SetProgress(int position);
// Destroys the window and the instance; nothing when there is none. On the
// thread that RunWithProgress runs work on, it has the window's own thread
// close the window and returns once that is done.
void CloseProgress();
// Dispatches the messages already queued for the window; never waits.
// Returns at once when there is no window.
void PumpMessages();
// Runs work on a thread of its own while this thread, the window's, keeps the
// window answering: it reads its messages at least every kProgressPumpMs and
// shows the positions work sets, until work has closed the window (then it
// waits for work's end without reading messages) or has ended. Without a
// window, or when no thread can be started, work runs on this thread. An
// exception that leaves work is thrown again here.
void RunWithProgress(const std::function<void()>& work);

// The longest the window's thread goes without reading its messages while
// RunWithProgress runs.
constexpr unsigned kProgressPumpMs = 50;
