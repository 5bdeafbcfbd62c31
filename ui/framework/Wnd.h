#pragma once

#include "AfxTypes.h"
#include "MessageMap.h"

// The root of everything that takes commands: it owns a message map and dispatches to it.
class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;

    static const MessageMap* GetThisMessageMap();   // the empty root map
    virtual const MessageMap* GetMessageMap() const;

    // Looks up (WM_COMMAND, code, id) along the map chain and runs the handler; true when one matched.
    virtual bool OnCmdMsg(UINT code, int id);
    // Looks up a window message along the map chain; true (and the handler's result) when one matched.
    bool DispatchWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
};

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

// A push button bound to a control.
class CButton : public CWnd {
public:
    int GetCheck() const;
    void SetCheck(int check);
};

// A list box bound to a control.
class CListBox : public CWnd {
public:
    int InitStorage(int items, UINT bytes);
    int InsertString(int position, const CString& text);
    int GetCurSel() const;
    int SelectString(int startAfter, const CString& prefix);
};

// Paint context of a window: BeginPaint on construction, EndPaint on destruction.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* window);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    void DrawIcon(int x, int y, HICON icon);

private:
    CWnd* m_window;
    HDC m_hDC;
};

// The busy cursor for the life of the object (also when a failure leaves the block).
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

int GetSystemMetrics(int index);
// A message box with no owner window.
int AfxMessageBox(const CString& text, const CString& caption, UINT style = MB_OK);
