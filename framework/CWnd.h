// Window object of the framework: owns the binding to one HWND, not the window's messages.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <vector>

class CDataExchange;

class CWnd {
public:
    CWnd() = default;
    // Destroys a window that is still bound to this object.
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Insert-after marker for SetWindowPos: top of the Z order, not topmost.
    static const CWnd wndTop;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The object bound to window, or a temporary one owned by the framework and
    // valid until the window is destroyed. Null for a null window.
    static CWnd* FromHandle(HWND window);
    // The object bound to window, or null.
    static CWnd* FromHandlePermanent(HWND window);

    // Binds this object to window. FALSE when window is null, this object is
    // bound already, or another object is bound to window.
    BOOL Attach(HWND window);
    // Unbinds the window without destroying it; returns it.
    HWND Detach();
    // Binds this object to the child control id of parent; the binding ends
    // when the parent window is destroyed. FALSE when there is no such control.
    BOOL BindDlgItem(int id, CWnd* parent);

    // Destroys the bound window; TRUE on success. The binding ends with it.
    virtual BOOL DestroyWindow();
    BOOL ShowWindow(int command);
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    // Centres the window over its owner (or alternateOwner); a window without
    // either is centred in the work area of the screen it is on.
    void CenterWindow(CWnd* alternateOwner = nullptr);

    // The child control id, as a bound or temporary object; null when absent.
    CWnd* GetDlgItem(int id) const;
    void SetDlgItemText(int id, const char* text);
    void SetWindowText(const char* text);
    // The window text in the ANSI code page.
    int GetWindowText(char* buffer, int size) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    // Runs DoDataExchange: saveAndValidate TRUE copies controls into members,
    // FALSE members into controls. FALSE when an exchange failed (a control
    // named in DoDataExchange does not exist) or there is no window.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

protected:
    virtual void DoDataExchange(CDataExchange*) {}
    // Called when the bound window has received its last message: ends the
    // bindings of the controls bound to it and its own.
    void OnWindowGone();

private:
    explicit CWnd(HWND marker) : m_hWnd(marker), isMarker_(true) {}
    void Unbind();

    bool isMarker_ = false;
    CWnd* boundParent_ = nullptr;
    std::vector<CWnd*> boundChildren_;
    mutable std::map<HWND, std::unique_ptr<CWnd>> temporaryChildren_;
};
