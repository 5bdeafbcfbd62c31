#include "Wnd.h"

#include "WindowSystem.h"

// A control object does not own its control and a plain window object does not own its window: only dialogs
// destroy what they created (see CDialog).
CWnd::~CWnd() = default;

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    m_hWnd = nullptr;
    return hWnd;
}

void CWnd::OnCommandNotification(UINT code, int id) {
    if (!OnCmdMsg(code, id)) {
        OnCommandDefault(code, id);
    }
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        // The classic packing: notification code in the high word, control id in the low word.
        OnCommandNotification(static_cast<UINT>((wParam >> 16) & 0xFFFF), static_cast<int>(wParam & 0xFFFF));
        return 0;
    }
    LRESULT result = 0;
    if (DispatchWindowMessage(message, wParam, lParam, result)) {
        return result;
    }
    return Default(message, wParam, lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return WindowProc(message, wParam, lParam);
}

void CWnd::OnCommandDefault(UINT, int) {}

LRESULT CWnd::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return AfxGetWindowSystem().DefWindowProc(m_hWnd, message, wParam, lParam);
}

void CWnd::OnSysCommand(UINT id, LPARAM lParam) {
    Default(WM_SYSCOMMAND, id, lParam);
}

void CWnd::OnPaint() {
    Default(WM_PAINT, 0, 0);
}

// Operations on a window object that has no window do nothing, as on a destroyed window.

BOOL CWnd::ShowWindow(int showCommand) {
    if (m_hWnd == nullptr) {
        return FALSE;
    }
    AfxGetWindowSystem().ShowWindow(m_hWnd, showCommand);
    return TRUE;
}

void CWnd::SetIcon(HICON icon, BOOL big) {
    if (m_hWnd != nullptr) {
        AfxGetWindowSystem().SetIcon(m_hWnd, icon, big != FALSE);
    }
}

HMENU CWnd::GetSystemMenu(BOOL) const {
    return m_hWnd != nullptr ? AfxGetWindowSystem().GetSystemMenu(m_hWnd) : nullptr;
}

BOOL CWnd::SetMenu(UINT menuId) {
    return m_hWnd != nullptr && AfxGetWindowSystem().SetMenu(m_hWnd, menuId) ? TRUE : FALSE;
}

BOOL CWnd::EnableMenuItem(UINT id, BOOL enable) {
    return m_hWnd != nullptr && AfxGetWindowSystem().EnableMenuItem(m_hWnd, id, enable != FALSE) ? TRUE : FALSE;
}

void CWnd::EnableWindow(BOOL enable) {
    if (m_hWnd != nullptr) {
        AfxGetWindowSystem().EnableWindow(m_hWnd, enable != FALSE);
    }
}

void CWnd::SetFocus() {
    if (m_hWnd != nullptr) {
        AfxGetWindowSystem().SetFocus(m_hWnd);
    }
}

BOOL CWnd::IsIconic() const {
    return m_hWnd != nullptr && AfxGetWindowSystem().IsIconic(m_hWnd) ? TRUE : FALSE;
}

void CWnd::GetClientRect(RECT* rect) const {
    *rect = m_hWnd != nullptr ? AfxGetWindowSystem().GetClientRect(m_hWnd) : RECT{};
}

void CWnd::RedrawWindow(UINT flags) {
    if (m_hWnd != nullptr) {
        AfxGetWindowSystem().RedrawWindow(m_hWnd, flags);
    }
}

int CWnd::GetWindowText(CString& text) const {
    if (m_hWnd == nullptr) {
        text.clear();
        return 0;
    }
    return AfxGetWindowSystem().GetWindowText(m_hWnd, text);
}

void CWnd::SetWindowText(const CString& text) {
    if (m_hWnd != nullptr) {
        AfxGetWindowSystem().SetWindowText(m_hWnd, text);
    }
}

HWND CWnd::GetDlgItem(int id) const {
    return m_hWnd != nullptr ? AfxGetWindowSystem().GetDlgItem(m_hWnd, id) : nullptr;
}

int CWnd::GetDlgItemText(int id, CString& text) const {
    HWND control = GetDlgItem(id);
    if (control == nullptr) {
        text.clear();
        return 0;
    }
    return AfxGetWindowSystem().GetWindowText(control, text);
}

void CWnd::SetDlgItemText(int id, const CString& text) {
    if (HWND control = GetDlgItem(id); control != nullptr) {
        AfxGetWindowSystem().SetWindowText(control, text);
    }
}
