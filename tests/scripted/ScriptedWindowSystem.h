#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "AfxTypes.h"
#include "CString.h"
#include "Dialog.h"
#include "Resources.h"
#include "WindowSystem.h"

class CScriptedWindowSystem;

// Thrown by the scripted ExitProcess, so that a test can catch the end of the process and read its status.
struct CScriptedProcessExit {
    int status;
};

// Thrown when a test's script does not match what the program did (an unexpected modal dialog, a modal run that
// the script did not end, ...). It carries a description for the failure message.
struct CScriptedFailure {
    std::string what;
};

// A control kept in memory, built from its template entry.
struct CScriptedControl {
    const ControlTemplate* tmpl = nullptr;
    int id = 0;
    ControlKind kind = ControlKind::StaticText;
    std::string text;
    std::vector<std::string> items; // list box items, in list order
    int curSel = -1;                // list box selection
    int check = 0;                  // check box mark
    bool visible = true;
    bool enabled = true;
    // Report list: columns, rows in the order given, the sort, and the selected row's key.
    std::vector<ReportColumn> columns;
    std::vector<ReportRow> rows;
    ReportSort sort;
    std::optional<long> selectedKey;
    int redraws = 0;          // RedrawWindow calls
    int initStorageCalls = 0; // ListInitStorage calls
    int addStringsCalls = 0;  // ListAddStrings calls
};

// A window kept in memory: one per live dialog. Test actions raise the notifications the real toolkit raises.
class CScriptedWindow {
public:
    CScriptedWindow(CScriptedWindowSystem& system, CDialog& dialog, const DialogTemplate& tmpl);

    CDialog& Dialog() const { return *m_dialog; }
    UINT TemplateId() const { return static_cast<UINT>(m_tmpl->id); }
    HWND Handle();

    // --- what a user does ---
    // Replaces an edit's text as typing would (only digits are kept for a digits-only edit) and raises EN_CHANGE.
    void Type(int id, const std::string& text);
    // Replaces an edit's text as pasting does (kept unchanged, also in a digits-only edit) and raises EN_CHANGE.
    void Paste(int id, const std::string& text);
    // Clicks a push button or check box (an automatic check box toggles its mark first): BN_CLICKED.
    void Click(int id);
    // Selects list position `pos` (in a report list: the row shown at `pos`) as a user would: the selection
    // changes, then LBN_SELCHANGE.
    void Select(int id, int pos);
    // Double-clicks list position `pos`: selection and LBN_SELCHANGE, then LBN_DBLCLK.
    void DoubleClick(int id, int pos);
    // Clicks the heading of a report list's column: it sorts by that column (see NextReportSort).
    void ClickHeader(int id, int column);
    // Presses a key or a combination ("1", "Delete", "Ctrl+2", "Ctrl+T") where the focus is: a report list with the
    // focus sorts on Ctrl+0 to Ctrl+9; otherwise the dialog's accelerator for the key sends its command (nothing
    // when its button is disabled), else a menu shortcut; a key that nothing takes fails the script.
    void PressKey(const std::string& keys);
    // Enter: clicks the default push button (or the focused push button when one has the focus).
    void PressEnter();
    // Escape: the Cancel command (IDCANCEL).
    void PressEscape();
    // Sends WM_COMMAND with any code and id, as a control or a menu would.
    void SendCommand(UINT code, int id);
    // Presses the shortcut of a menu bar item ("Ctrl+T"): WM_COMMAND with code 0 and the item's id, as choosing
    // the item does (SendCommand chooses an item without a shortcut).
    void PressShortcut(const std::string& keys);
    // Sends WM_SYSCOMMAND (e.g. SC_CLOSE for the caption's close box, IDM_ABOUTBOX for the About entry).
    void SysCommand(UINT id, LPARAM lParam = 0);
    // Sends WM_PAINT.
    void Paint();
    // Gives the keyboard focus to a control (nullptr/-1: none). Enter then clicks it when it is a push button.
    void SetFocus(int id);

    // --- what a test reads ---
    CScriptedControl& Control(int id); // fails the test (CScriptedFailure) when there is no such control
    bool HasControl(int id) const;
    std::string Text(int id) { return Control(id).text; }
    std::vector<std::string> Items(int id) { return Control(id).items; }
    // A report list's rows as shown, each one's cells joined by " | ".
    std::vector<std::string> Rows(int id);
    std::optional<long> SelectedKey(int id) { return Control(id).selectedKey; }
    bool IsControlEnabled(int id) { return Control(id).enabled; }
    bool IsMenuItemEnabled(int id) const { return m_disabledMenuItems.count(id) == 0; }
    int CurSel(int id) { return Control(id).curSel; }
    const std::vector<CScriptedControl>& Controls() const { return m_controls; }
    // The caption (the template's title unless the program set another).
    std::string Title() const { return m_title; }
    bool IsVisible() const { return m_visible; }
    bool IsEnabled() const { return m_enabled; }
    bool IsEnded() const { return m_ended; }
    INT_PTR Result() const { return m_result; }
    int FocusedControl() const { return m_focus; }
    HICON Icon(bool big) const { return big ? m_bigIcon : m_smallIcon; }
    // The system menu's items as (flags, id, text), in order; empty when nothing was appended.
    struct MenuItem {
        UINT flags;
        UINT_PTR id;
        std::string text;
    };
    const std::vector<MenuItem>& SystemMenu() const { return m_systemMenu; }

    // Minimised state and client size, for the painting tests.
    void SetIconic(bool iconic) { m_iconic = iconic; }
    void SetClientSize(int width, int height) {
        m_clientWidth = width;
        m_clientHeight = height;
    }

private:
    friend class CScriptedWindowSystem;
    // Raises a notification from control `id` to the dialog.
    void Notify(UINT code, int id);
    // User actions need a usable window: one disabled by a modal run above it takes no input.
    void RequireEnabled(const char* action) const;
    CScriptedControl& RequireKind(int id, ControlKind kind, const char* action);
    CScriptedWindowSystem* m_system;
    CDialog* m_dialog;
    const DialogTemplate* m_tmpl;
    int m_serial = 0; // handles are derived from it, so a dead window's handle never names a new one
    bool m_modal = false;
    std::string m_title;
    std::vector<CScriptedControl> m_controls;
    std::vector<MenuItem> m_systemMenu;
    const MenuTemplate* m_menuBar = nullptr;
    std::set<int> m_disabledMenuItems;
    bool m_hasSystemMenu = false;
    bool m_visible = false;
    bool m_enabled = true;
    bool m_ended = false;
    bool m_iconic = false;
    INT_PTR m_result = 0;
    int m_focus = -1;
    int m_clientWidth = 0;
    int m_clientHeight = 0;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
};

// The window operations in memory. Modal runs are answered from a queue of steps the test fills; every message
// box, wait-cursor span, modal run and painting step is written to an event log that tests compare.
class CScriptedWindowSystem : public CWindowSystem {
public:
    using ModalStep = std::function<void(CScriptedWindow&)>;
    using MessageBoxStep = std::function<void()>;

    CScriptedWindowSystem();
    ~CScriptedWindowSystem() override;

    // The next modal run must be on `templateId`; `step` runs once the dialog is initialised and must end it
    // (click OK, Escape, ...). A modal run with no queued step, or on another template, throws CScriptedFailure.
    void ExpectModal(UINT templateId, ModalStep step);
    // Optional: an action to run while the next message box is up (the box has no owner, so the main window's
    // commands can still arrive). Without one, a message box is simply recorded and answered with IDOK.
    void OnNextMessageBox(MessageBoxStep step);
    // Number of queued modal steps not yet used.
    std::size_t PendingModalSteps() const { return m_modalSteps.size(); }
    // Number of queued message-box actions not yet used.
    std::size_t PendingMessageBoxSteps() const { return m_messageBoxSteps.size(); }

    // Script mismatches found so far. Each one is thrown as CScriptedFailure where it happens and also kept here,
    // because the program's engine guard catches every exception; the ones still kept when the toolkit is destroyed
    // fail the running test. A test that provokes a mismatch on purpose takes it from here.
    std::vector<std::string> TakeFailures();

    struct MessageBoxRecord {
        HWND owner;
        std::string text;
        std::string caption;
        UINT style;
    };
    const std::vector<MessageBoxRecord>& MessageBoxes() const { return m_messageBoxes; }

    // Shared event log: "BeginWaitCursor", "EndWaitCursor", "MessageBox(<caption>|<text>)", "Modal(<id>)",
    // "EndModal(<id>,<result>)", "Create(<id>)", "Show(<id>,<cmd>)", "Destroy(<id>)", "Redraw(<ctrl>)",
    // "EraseIconBkgnd", "DrawIcon(<x>,<y>)", "DefWindowProc(<msg>,<wParam>)", "Exit(<status>)".
    // A test can hand the same vector to the scripted engine so that engine calls interleave with these.
    void SetEventLog(std::vector<std::string>* log) { m_log = log; }
    std::vector<std::string>& EventLog() { return *m_log; }

    int WaitCursorDepth() const { return m_waitDepth; }
    // How often ProcessPendingEvents ran (it does nothing here).
    int PendingEventRuns() const { return m_pendingEventRuns; }
    // Windows alive now, oldest first; the most recent on a template, or nullptr.
    std::vector<CScriptedWindow*> Windows();
    CScriptedWindow* FindWindow(UINT templateId);
    // The string table the toolkit answers from (default: the program's; a test may remove or replace entries).
    std::map<UINT, std::string>& Strings() { return m_strings; }
    // Window that has no system menu (for the missing-menu case), by template id.
    void SetNoSystemMenu(UINT templateId) { m_noSystemMenu.push_back(templateId); }
    // Icon metrics answered by GetSystemMetrics(SM_CXICON / SM_CYICON); default 32 x 32.
    void SetIconMetrics(int cx, int cy) {
        m_iconCx = cx;
        m_iconCy = cy;
    }

    // The constructor makes the new toolkit the framework's (AfxSetWindowSystem); the destructor unsets it and
    // detaches every dialog object from the windows still alive.

    // --- CWindowSystem ---
    INT_PTR RunModalDialog(CDialog& dialog, HWND owner) override;
    bool CreateModelessDialog(CDialog& dialog, HWND parent) override;
    void EndDialog(HWND dialog, INT_PTR result) override;
    void DestroyWindow(HWND window) override;
    void ShowWindow(HWND window, int showCommand) override;
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
    void SetIcon(HWND window, HICON icon, bool big) override;
    HMENU GetSystemMenu(HWND window) override;
    bool AppendMenu(HMENU menu, UINT flags, UINT_PTR id, const CString& text) override;
    bool SetMenu(HWND window, UINT menuId) override;
    bool EnableMenuItem(HWND window, UINT id, bool enable) override;
    bool IsIconic(HWND window) override;
    HDC BeginPaint(HWND window) override;
    void EndPaint(HWND window, HDC dc) override;
    int GetSystemMetrics(int index) override;
    RECT GetClientRect(HWND window) override;
    void DrawIcon(HDC dc, int x, int y, HICON icon) override;
    LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    void ProcessPendingEvents() override { ++m_pendingEventRuns; }
    [[noreturn]] void ExitProcess(int status) override;

private:
    // Implementation details are the toolkit's own (windows, controls, handles, the log ...).
    friend class CScriptedWindow;
    [[noreturn]] void Fail(const std::string& what);
    void Log(std::string entry) { m_log->push_back(std::move(entry)); }
    CScriptedWindow* WindowOf(HWND handle) const;   // the window of a window or control handle, or nullptr
    CScriptedControl* ControlOf(HWND handle) const; // nullptr for a window handle or an unknown one
    CScriptedWindow& RequireWindow(HWND handle, const char* operation);
    CScriptedControl& RequireControl(HWND handle, const char* operation);
    CScriptedControl& RequireReport(HWND handle, const char* operation);
    CScriptedWindow& AddWindow(CDialog& dialog, const DialogTemplate& tmpl);
    void RemoveWindow(CScriptedWindow* window);
    std::vector<std::unique_ptr<CScriptedWindow>> m_windows;
    std::vector<std::string> m_failures;
    int m_nextSerial = 1;
    std::deque<std::pair<UINT, ModalStep>> m_modalSteps;
    std::deque<MessageBoxStep> m_messageBoxSteps;
    std::vector<MessageBoxRecord> m_messageBoxes;
    std::vector<std::string> m_ownLog;
    std::vector<std::string>* m_log = &m_ownLog;
    std::map<UINT, std::string> m_strings;
    std::vector<UINT> m_noSystemMenu;
    int m_waitDepth = 0;
    int m_pendingEventRuns = 0;
    int m_iconCx = 32;
    int m_iconCy = 32;
};
