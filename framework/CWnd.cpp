// Window object: HWND bindings, window placement and the data exchange entry point.
#include "CWnd.h"

#include <algorithm>
#include <unordered_map>

#include "DataExchange.h"

namespace {

// Objects bound to windows. One thread drives every window of the program.
std::unordered_map<HWND, CWnd*>& BoundWindows()
{
    static std::unordered_map<HWND, CWnd*> bound;
    return bound;
}

}  // namespace

const CWnd CWnd::wndTop(HWND_TOP);

CWnd::~CWnd()
{
    if (isMarker_)
        return;
    HWND window = m_hWnd;
    // The controls bound to our window go with it.
    OnWindowGone();
    if (window && IsWindow(window))
        ::DestroyWindow(window);
}

CWnd* CWnd::FromHandlePermanent(HWND window)
{
    auto found = BoundWindows().find(window);
    return found == BoundWindows().end() ? nullptr : found->second;
}

CWnd* CWnd::FromHandle(HWND window)
{
    if (!window)
        return nullptr;
    if (CWnd* bound = FromHandlePermanent(window))
        return bound;
    // A temporary object lives with the nearest bound ancestor (or with a
    // process-wide holder for windows that have none) and goes when it goes.
    static CWnd orphanHolder;
    CWnd* holder = &orphanHolder;
    for (HWND up = GetParent(window); up; up = GetParent(up)) {
        if (CWnd* parent = FromHandlePermanent(up)) {
            holder = parent;
            break;
        }
    }
    std::unique_ptr<CWnd>& slot = holder->temporaryChildren_[window];
    if (!slot) {
        slot = std::make_unique<CWnd>();
        slot->m_hWnd = window;
    }
    return slot.get();
}

BOOL CWnd::Attach(HWND window)
{
    if (!window || m_hWnd || isMarker_ || FromHandlePermanent(window))
        return FALSE;
    m_hWnd = window;
    BoundWindows()[window] = this;
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND window = m_hWnd;
    Unbind();
    return window;
}

void CWnd::Unbind()
{
    if (m_hWnd) {
        auto found = BoundWindows().find(m_hWnd);
        if (found != BoundWindows().end() && found->second == this)
            BoundWindows().erase(found);
        m_hWnd = nullptr;
    }
    if (boundParent_) {
        auto& siblings = boundParent_->boundChildren_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
        boundParent_ = nullptr;
    }
}

BOOL CWnd::BindDlgItem(int id, CWnd* parent)
{
    if (!parent || !parent->m_hWnd)
        return FALSE;
    HWND control = ::GetDlgItem(parent->m_hWnd, id);
    if (!control || !Attach(control))
        return FALSE;
    boundParent_ = parent;
    parent->boundChildren_.push_back(this);
    return TRUE;
}

void CWnd::OnWindowGone()
{
    while (!boundChildren_.empty())
        boundChildren_.back()->Unbind();
    // Temporary objects only view their windows: they never destroy them.
    for (auto& entry : temporaryChildren_)
        entry.second->m_hWnd = nullptr;
    temporaryChildren_.clear();
    Unbind();
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd)
        return FALSE;
    HWND window = m_hWnd;
    BOOL destroyed = ::DestroyWindow(window);
    // Windows whose procedure does not report their end are unbound here.
    if (destroyed && m_hWnd == window)
        OnWindowGone();
    return destroyed;
}

BOOL CWnd::ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : nullptr, x, y, cx, cy, flags);
}

void CWnd::CenterWindow(CWnd* alternateOwner)
{
    if (!m_hWnd)
        return;
    RECT self;
    if (!GetWindowRect(m_hWnd, &self))
        return;
    bool child = (GetWindowLongA(m_hWnd, GWL_STYLE) & WS_CHILD) != 0;
    HWND center = child ? GetParent(m_hWnd) : GetWindow(m_hWnd, GW_OWNER);
    if (!center && alternateOwner)
        center = alternateOwner->m_hWnd;
    // An owner that cannot be seen is no reference point.
    if (center && !child && (!IsWindowVisible(center) || IsIconic(center)))
        center = nullptr;

    RECT area;  // where the window must stay, in its parent's coordinates
    RECT target;
    if (child) {
        GetClientRect(center, &area);
        target = area;
        MapWindowPoints(nullptr, center, reinterpret_cast<POINT*>(&self), 2);
    } else {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof(monitor);
        HMONITOR screen = MonitorFromWindow(center ? center : m_hWnd, MONITOR_DEFAULTTONEAREST);
        if (screen && GetMonitorInfoA(screen, &monitor))
            area = monitor.rcWork;
        else
            SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        if (!center || !GetWindowRect(center, &target))
            target = area;
    }

    int width = self.right - self.left;
    int height = self.bottom - self.top;
    int left = (target.left + target.right) / 2 - width / 2;
    int top = (target.top + target.bottom) / 2 - height / 2;
    // Keep the whole window inside the area where it can.
    left = std::max<int>(area.left, std::min<int>(left, area.right - width));
    top = std::max<int>(area.top, std::min<int>(top, area.bottom - height));
    ::SetWindowPos(m_hWnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CWnd* CWnd::GetDlgItem(int id) const
{
    return m_hWnd ? FromHandle(::GetDlgItem(m_hWnd, id)) : nullptr;
}

void CWnd::SetDlgItemText(int id, const char* text) { ::SetDlgItemTextA(m_hWnd, id, text); }

void CWnd::SetWindowText(const char* text) { ::SetWindowTextA(m_hWnd, text); }

int CWnd::GetWindowText(char* buffer, int size) const { return ::GetWindowTextA(m_hWnd, buffer, size); }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::UpdateData(BOOL saveAndValidate)
{
    if (!m_hWnd)
        return FALSE;
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return exchange.Failed() ? FALSE : TRUE;
}
