#pragma once

#include <map>
#include <memory>
#include <vector>

#include <QIcon>

#include "AfxTypes.h"
#include "WindowSystem.h"

class CDialog;
class CQtDialogWindow;
class CQtModalKeeper;
class CQtReportList;
class QPainter;
class QWidget;

// The window operations over Qt 6 Widgets. Construct it after the QApplication. Handles are the widgets
// themselves (dialog windows and their controls); a handle of a window that is gone is recognised and ignored.
class CQtWindowSystem : public CWindowSystem {
public:
    CQtWindowSystem();
    ~CQtWindowSystem() override;
    CQtWindowSystem(const CQtWindowSystem&) = delete;
    CQtWindowSystem& operator=(const CQtWindowSystem&) = delete;

    // The live window behind a handle (a dialog window, or the window of a control), or nullptr.
    CQtDialogWindow* WindowOf(HWND handle) const;
    // The live widget behind a handle, or nullptr.
    QWidget* WidgetOf(HWND handle) const;

    INT_PTR RunModalDialog(CDialog& dialog, HWND owner) override;
    bool CreateModelessDialog(CDialog& dialog, HWND parent) override;
    void EndDialog(HWND dialog, INT_PTR result) override;
    void DestroyWindow(HWND handle) override;
    void ShowWindow(HWND handle, int showCommand) override;
    HWND GetDlgItem(HWND dialog, int controlId) override;

    int GetWindowText(HWND control, CString& text) override;
    void SetWindowText(HWND control, const CString& text) override;
    int ListInitStorage(HWND list, int items, int bytes) override;
    int ListInsertString(HWND list, int position, const CString& text) override;
    int ListAddStrings(HWND list, const std::vector<CString>& texts) override;
    int ListGetCurSel(HWND list) override;
    int ListSelectString(HWND list, int startAfter, const CString& prefix) override;
    int ListSetCurSel(HWND list, int position) override;
    void ReportSetColumns(HWND list, const std::vector<ReportColumn>& columns) override;
    int ReportSetRows(HWND list, const std::vector<ReportRow>& rows) override;
    std::optional<long> ReportGetSelection(HWND list) override;
    bool ReportSelectKey(HWND list, long key) override;
    void ReportSortBy(HWND list, const ReportSort& sort) override;
    ReportSort ReportGetSort(HWND list) override;
    std::vector<long> ReportGetKeys(HWND list) override;
    void EnableWindow(HWND control, bool enable) override;
    void SetFocus(HWND control) override;
    void RedrawWindow(HWND control, UINT flags) override;
    int GetCheck(HWND button) override;
    void SetCheck(HWND button, int check) override;

    int MessageBox(HWND owner, const CString& text, const CString& caption, UINT style) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

    CString LoadString(UINT id) override;
    HICON LoadIcon(UINT id) override;
    void SetIcon(HWND handle, HICON icon, bool big) override;
    HMENU GetSystemMenu(HWND handle) override;
    bool AppendMenu(HMENU menu, UINT flags, UINT_PTR id, const CString& text) override;
    bool SetMenu(HWND handle, UINT menuId) override;
    bool EnableMenuItem(HWND handle, UINT id, bool enable) override;

    bool IsIconic(HWND handle) override;
    HDC BeginPaint(HWND handle) override;
    void EndPaint(HWND window, HDC dc) override;
    int GetSystemMetrics(int index) override;
    RECT GetClientRect(HWND handle) override;
    void DrawIcon(HDC dc, int x, int y, HICON icon) override;
    LRESULT DefWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) override;

    void ProcessPendingEvents() override;
    [[noreturn]] void ExitProcess(int status) override;

private:
    // What a device-context handle stands for: the window being painted and, inside its paint event, a painter.
    struct PaintContext {
        CQtDialogWindow* window;
        QPainter* painter;
    };

    // Builds the window for `dialog` from its template and attaches it; nullptr when there is no such template.
    CQtDialogWindow* CreateWindowFor(CDialog& dialog);
    void Forget(CQtDialogWindow* window);
    // The window a message box without an owner opens in front of: the main window while it is on the screen, else
    // the newest window of ours that is; nullptr when none is.
    QWidget* FrontWindow() const;
    PaintContext* ContextOf(HDC dc) const;
    CQtReportList* ReportOf(HWND handle) const;
    // Shows a window and paints it before returning, without taking user input on the way.
    static void ShowAndPaint(QWidget* window);

    std::vector<CQtDialogWindow*> m_windows;  // live windows, oldest first
    std::unique_ptr<CQtModalKeeper> m_keeper; // brings back a minimised window that a run waits on
    std::map<UINT, std::unique_ptr<QIcon>> m_icons;
    std::vector<std::unique_ptr<PaintContext>> m_paintContexts;
    int m_waitCursorDepth = 0;
};
