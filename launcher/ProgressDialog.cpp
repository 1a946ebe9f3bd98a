// The launcher's progress window and the four operations on its single instance.
#include "ProgressDialog.h"

#include <commctrl.h>

#include <atomic>
#include <exception>
#include <new>
#include <system_error>
#include <thread>

#include "CWinApp.h"
#include "DataExchange.h"
#include "ObjectHandle.h"
#include "resource.h"

namespace {

ProgressDialog* progressInstance = nullptr;

// What the window's thread and the thread doing the work share while
// RunWithProgress runs. The worker never touches the window: it leaves
// positions and the request to close here, and wakes the window's thread.
struct ProgressHandoff {
    DWORD windowThread = 0;
    HANDLE wake = nullptr;    // auto-reset: something has been left here
    HANDLE closed = nullptr;  // manual-reset: the window's thread has closed the window
    std::atomic<int> position{-1};  // the latest position not shown yet, -1: none
    std::atomic<bool> closeRequested{false};
    std::atomic<bool> finished{false};
};

// Set while RunWithProgress runs; read by the worker's SetProgress and
// CloseProgress (the window's thread sets and clears it around the worker).
ProgressHandoff* handoff = nullptr;

bool OnWorkerThread() { return handoff && GetCurrentThreadId() != handoff->windowThread; }

// On the window's thread: the position the worker left, if any.
void ShowLeftPosition(ProgressHandoff& shared)
{
    const int position = shared.position.exchange(-1);
    if (position >= 0 && progressInstance)
        SendMessageA(progressInstance->bar.m_hWnd, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// Dispatches everything queued for this thread, whose only window is the
// progress window; never waits.
void DispatchQueued()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

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
    // Painted now, before anything else can keep this thread from reading
    // its messages (the first WM_PAINT would wait for that).
    if (HWND window = progressInstance->m_hWnd)
        RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void SetProgress(int position)
{
    if (!progressInstance)
        return;
    if (OnWorkerThread()) {
        handoff->position.store(position);
        SetEvent(handoff->wake);
        return;
    }
    SendMessageA(progressInstance->bar.m_hWnd, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CloseProgress()
{
    if (!progressInstance)
        return;
    if (OnWorkerThread()) {
        handoff->closeRequested.store(true);
        SetEvent(handoff->wake);
        WaitForSingleObject(handoff->closed, INFINITE);
        return;
    }
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

void RunWithProgress(const std::function<void()>& work)
{
    if (!progressInstance || !progressInstance->m_hWnd || handoff) {
        work();
        return;
    }
    ProgressHandoff shared;
    const ObjectHandle wake(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    const ObjectHandle closed(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!wake.Valid() || !closed.Valid()) {
        work();
        return;
    }
    shared.windowThread = GetCurrentThreadId();
    shared.wake = wake.Get();
    shared.closed = closed.Get();
    std::exception_ptr failure;
    std::thread worker;
    handoff = &shared;
    try {
        worker = std::thread([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            shared.finished.store(true);
            SetEvent(shared.wake);
        });
    } catch (const std::system_error&) {
        handoff = nullptr;
        work();
        return;
    }
    for (;;) {
        MsgWaitForMultipleObjects(1, &shared.wake, FALSE, kProgressPumpMs, QS_ALLINPUT);
        ShowLeftPosition(shared);
        if (shared.closeRequested.load()) {
            // The window goes where the launch has always closed it; from
            // here on this thread reads no messages, as before.
            CloseProgress();
            PumpMessages();
            SetEvent(shared.closed);
            break;
        }
        if (shared.finished.load())
            break;
        DispatchQueued();
    }
    worker.join();
    handoff = nullptr;
    ShowLeftPosition(shared);
    if (failure)
        std::rethrow_exception(failure);
}
