#pragma once

#include <optional>
#include <vector>

#include "AfxTypes.h"
#include "CString.h"
#include "ReportList.h"

class CDialog;

// The window operations that the program's logic needs, and nothing more. The Qt toolkit provides them for the
// program; the scripted toolkit provides them in memory for tests. Controls are windows too: GetDlgItem gives the
// handle of a dialog's control, and the control operations take that handle.
class CWindowSystem {
public:
    virtual ~CWindowSystem() = default;

    // --- dialogs -------------------------------------------------------------------------------------------------
    // Builds `dialog`'s window from its template (dialog.GetTemplateId()), attaches it (dialog.Attach), runs the
    // dialog's initialisation (dialog.HandleInitDialog), shows it, disables `owner` (when not null), dispatches
    // notifications to the dialog until EndDialog is called, then re-enables the owner, destroys the window,
    // detaches it and returns the result given to EndDialog. An EndDialog during initialisation ends the run
    // before the window is shown.
    virtual INT_PTR RunModalDialog(CDialog& dialog, HWND owner) = 0;
    // Builds `dialog`'s window from its template, hidden unless the template says visible, attaches it and runs its
    // initialisation; returns false (and attaches nothing) when the window cannot be created.
    virtual bool CreateModelessDialog(CDialog& dialog, HWND parent) = 0;
    // Ends the modal run of the dialog with this result.
    virtual void EndDialog(HWND dialog, INT_PTR result) = 0;
    // Destroys a window created by CreateModelessDialog (and detaches it from its object).
    virtual void DestroyWindow(HWND window) = 0;
    // Show command 0 hides the window, any other shows it.
    virtual void ShowWindow(HWND window, int showCommand) = 0;
    // The handle of the dialog's control with this identifier, or nullptr.
    virtual HWND GetDlgItem(HWND dialog, int controlId) = 0;

    // --- controls ------------------------------------------------------------------------------------------------
    // Copies the control's whole text into `text` and returns its length in characters; 0 for an empty control.
    virtual int GetWindowText(HWND control, CString& text) = 0;
    // Replaces the control's whole text; line breaks show as new lines in a static text. Setting an edit's text
    // raises its text-change notification like typing does.
    virtual void SetWindowText(HWND control, const CString& text) = 0;
    // List: a hint that the list will receive `items` items with `bytes` bytes of text. No visible effect.
    virtual int ListInitStorage(HWND list, int items, int bytes) = 0;
    // List: inserts at `position` (-1 appends), never sorted into place; returns the item's position.
    virtual int ListInsertString(HWND list, int position, const CString& text) = 0;
    // List: appends the texts in their order, never sorted into place, as one insertion at the end each would;
    // returns the number of items the list then holds.
    virtual int ListAddStrings(HWND list, const std::vector<CString>& texts) = 0;
    // List: the selected position, or -1.
    virtual int ListGetCurSel(HWND list) = 0;
    // List: examines the items after `startAfter` to the end, then from the first back to `startAfter`; selects the
    // first whose text begins with `prefix` (letters compared without regard to case) and scrolls it into view.
    // Returns its position, or -1 leaving the selection unchanged. Raises no selection-change notification.
    virtual int ListSelectString(HWND list, int startAfter, const CString& prefix) = 0;
    // List: selects `position` and scrolls it into view, without a selection-change notification. Returns the
    // position, or -1 (selection unchanged) for a position outside the list.
    virtual int ListSetCurSel(HWND list, int position) = 0;
    // Invalidates, erases and repaints the whole control before returning (flags RDW_*).
    virtual void RedrawWindow(HWND control, UINT flags) = 0;
    // Report list: its columns, left to right; the rows go away.
    virtual void ReportSetColumns(HWND list, const std::vector<ReportColumn>& columns) = 0;
    // Report list: replaces the rows and shows them in the list's current sort; returns their number. The selected
    // row stays selected when its key is among the new rows; else the row that now stands where it stood is (the
    // last row when the list got shorter), and none in an empty list. No selection-change notification.
    virtual int ReportSetRows(HWND list, const std::vector<ReportRow>& rows) = 0;
    // Report list: the selected row's key, or nothing.
    virtual std::optional<long> ReportGetSelection(HWND list) = 0;
    // Report list: selects the row with this key and scrolls it into view, without a selection-change
    // notification; false (selection unchanged) when no row has it.
    virtual bool ReportSelectKey(HWND list, long key) = 0;
    // Report list: sorts as the user's click on a heading would (the selected row stays selected and in view).
    virtual void ReportSortBy(HWND list, const ReportSort& sort) = 0;
    virtual ReportSort ReportGetSort(HWND list) = 0;
    // Report list: the rows' keys in the order the list shows them.
    virtual std::vector<long> ReportGetKeys(HWND list) = 0;
    // A disabled control is greyed and takes neither clicks nor focus nor its accelerator key.
    virtual void EnableWindow(HWND control, bool enable) = 0;
    // Gives the keyboard focus to a control of an active window.
    virtual void SetFocus(HWND control) = 0;
    // Check box mark: 0 unchecked, 1 checked.
    virtual int GetCheck(HWND button) = 0;
    virtual void SetCheck(HWND button, int check) = 0;

    // --- message box and wait cursor -------------------------------------------------------------------------------
    // A message box with the given owner (nullptr: none, the application's windows stay enabled), text, title and
    // style (MB_OK); blocks until dismissed and returns the button chosen.
    virtual int MessageBox(HWND owner, const CString& text, const CString& caption, UINT style) = 0;
    // The busy cursor shows from the first Begin to the matching End (calls nest).
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    // --- resources, icons and the system menu ------------------------------------------------------------------------
    // The string resource, or an empty string when it is missing.
    virtual CString LoadString(UINT id) = 0;
    virtual HICON LoadIcon(UINT id) = 0;
    // Big icon: task switcher; small icon: caption.
    virtual void SetIcon(HWND window, HICON icon, bool big) = 0;
    // The window's own system menu, or nullptr when it has none.
    virtual HMENU GetSystemMenu(HWND window) = 0;
    // Appends a separator (MF_SEPARATOR) or a text item (MF_STRING) with a command identifier.
    virtual bool AppendMenu(HMENU menu, UINT flags, UINT_PTR id, const CString& text) = 0;

    // Puts the menu bar resource `menuId` above the window's client area: the window grows by the bar's height and
    // no control moves. Choosing an item, or pressing its shortcut while the window takes input, sends the window
    // WM_COMMAND with code 0 and the item's id. False when there is no such menu or the window has a menu bar.
    virtual bool SetMenu(HWND window, UINT menuId) = 0;
    // Greys out (false) or restores (true) the window's menu bar item `id`: a greyed item can be neither chosen nor
    // reached by its shortcut. False when the window's bar has no such item.
    virtual bool EnableMenuItem(HWND window, UINT id, bool enable) = 0;

    // --- painting of the minimised window ----------------------------------------------------------------------------
    virtual bool IsIconic(HWND window) = 0;
    virtual HDC BeginPaint(HWND window) = 0;
    virtual void EndPaint(HWND window, HDC dc) = 0;
    virtual int GetSystemMetrics(int index) = 0;
    virtual RECT GetClientRect(HWND window) = 0;
    virtual void DrawIcon(HDC dc, int x, int y, HICON icon) = 0;
    // The toolkit's default handling of a window message the program's map does not handle (default painting,
    // icon-background erasing, system commands such as SC_CLOSE which ends a dialog with IDCANCEL).
    virtual LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;

    // --- events
    // -------------------------------------------------------------------------------------------------------- Handles
    // the events waiting for the program's windows but the user's input (repaints, moves and the like) and returns: the
    // start-up notice stays painted and can be moved while the engine loads, and takes no input.
    virtual void ProcessPendingEvents() = 0;

    // --- process -----------------------------------------------------------------------------------------------------
    // Ends the process at once with this status. (The scripted toolkit throws instead, for the test to catch.)
    [[noreturn]] virtual void ExitProcess(int status) = 0;
};

// The toolkit that the framework uses; set once by main() or by a test.
CWindowSystem& AfxGetWindowSystem();
void AfxSetWindowSystem(CWindowSystem* windowSystem);
// Whether a toolkit is set (destructors check this before they ask the toolkit for anything).
bool AfxHasWindowSystem();

// Calls on the toolkit for code that has no window object at hand.
int GetSystemMetrics(int index);
// A message box with no owner window.
int AfxMessageBox(const CString& text, const CString& caption, UINT style = MB_OK);
