#pragma once

#include "AfxTypes.h"
#include "CString.h"
#include "CmdTarget.h"

// A window (a dialog or a control) reached through its handle.
class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    ~CWnd() override;

    HWND GetSafeHwnd() const { return m_hWnd; }
    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND Detach();

    // Entry points for the toolkit: a notification from a control (WM_COMMAND), and any other window message.
    // Unmatched commands go to OnCommandDefault; unmatched messages to the toolkit's DefWindowProc.
    void OnCommandNotification(UINT code, int id);
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Sends a message to this window's own handling, synchronously.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Window operations on this window.
    BOOL ShowWindow(int showCommand);
    void SetIcon(HICON icon, BOOL big);
    HMENU GetSystemMenu(BOOL revert) const;
    // Puts the menu bar resource `menuId` above the window's client area.
    BOOL SetMenu(UINT menuId);
    // Greys out or restores an item of the window's menu bar.
    BOOL EnableMenuItem(UINT id, BOOL enable);
    // Enables or disables this window when it is a control.
    void EnableWindow(BOOL enable);
    // Gives this control the keyboard focus.
    void SetFocus();
    BOOL IsIconic() const;
    void GetClientRect(RECT* rect) const;
    void RedrawWindow(UINT flags);
    // Text of this window when it is a control.
    int GetWindowText(CString& text) const;
    void SetWindowText(const CString& text);
    // Text of one of this window's controls.
    int GetDlgItemText(int id, CString& text) const;
    void SetDlgItemText(int id, const CString& text);
    HWND GetDlgItem(int id) const;

protected:
    // What happens to a command no map entry took: nothing for a plain window.
    virtual void OnCommandDefault(UINT code, int id);
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
    // The base handling of a system command and of painting (the toolkit's default), for handlers that pass on.
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();

    HWND m_hWnd = nullptr;
};
