#include "ScriptedWindowSystem.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include <gtest/gtest.h>

#include "resource.h"

// Handles carry the window's serial number in the bits above the low byte; the low byte says what inside the window
// is meant: 0 the window itself, 1 to 253 a control (template index + 1), 0xFE its paint context, 0xFF its system
// menu. Serial numbers are never reused, so a stale handle is recognised instead of naming a newer window.
namespace {

constexpr std::uintptr_t kPaintContext = 0xFE;
constexpr std::uintptr_t kSystemMenu = 0xFF;
constexpr std::uintptr_t kIconBase = 0x10000;

std::uintptr_t Value(const void* handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

template <typename Handle> Handle MakeHandle(int serial, std::uintptr_t part) {
    return reinterpret_cast<Handle>((static_cast<std::uintptr_t>(serial) << 8) | part);
}

// Length in characters of UTF-8 text: every byte that does not continue a sequence starts a character.
int CharacterCount(const std::string& text) {
    return static_cast<int>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

CScriptedWindowSystem::CScriptedWindowSystem() {
    // String identifiers are 16-bit, so the whole table can be copied in for tests to edit.
    for (unsigned id = 0; id <= 0xFFFF; ++id) {
        if (std::optional<std::string_view> text = FindStringResource(id)) {
            m_strings[id] = std::string(*text);
        }
    }
    AfxSetWindowSystem(this);
}

CScriptedWindowSystem::~CScriptedWindowSystem() {
    for (const std::unique_ptr<CScriptedWindow>& window : m_windows) {
        window->m_dialog->Detach();
    }
    m_windows.clear();
    if (AfxHasWindowSystem() && &AfxGetWindowSystem() == this) {
        AfxSetWindowSystem(nullptr);
    }
    for (const std::string& failure : m_failures) {
        ADD_FAILURE() << "scripted toolkit: " << failure;
    }
}

void CScriptedWindowSystem::Fail(const std::string& what) {
    m_failures.push_back(what);
    throw CScriptedFailure{what};
}

std::vector<std::string> CScriptedWindowSystem::TakeFailures() {
    std::vector<std::string> failures;
    failures.swap(m_failures);
    return failures;
}

void CScriptedWindowSystem::ExpectModal(UINT templateId, ModalStep step) {
    m_modalSteps.emplace_back(templateId, std::move(step));
}

void CScriptedWindowSystem::OnNextMessageBox(MessageBoxStep step) {
    m_messageBoxSteps.push_back(std::move(step));
}

std::vector<CScriptedWindow*> CScriptedWindowSystem::Windows() {
    std::vector<CScriptedWindow*> windows;
    for (const std::unique_ptr<CScriptedWindow>& window : m_windows) {
        windows.push_back(window.get());
    }
    return windows;
}

CScriptedWindow* CScriptedWindowSystem::FindWindow(UINT templateId) {
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it) {
        if ((*it)->TemplateId() == templateId) {
            return it->get();
        }
    }
    return nullptr;
}

CScriptedWindow* CScriptedWindowSystem::WindowOf(HWND handle) const {
    if (handle == nullptr) {
        return nullptr;
    }
    const std::uintptr_t serial = Value(handle) >> 8;
    for (const std::unique_ptr<CScriptedWindow>& window : m_windows) {
        if (static_cast<std::uintptr_t>(window->m_serial) == serial) {
            return window.get();
        }
    }
    return nullptr;
}

CScriptedControl* CScriptedWindowSystem::ControlOf(HWND handle) const {
    CScriptedWindow* window = WindowOf(handle);
    const std::uintptr_t part = Value(handle) & 0xFF;
    if (window == nullptr || part == 0 || part > window->m_controls.size()) {
        return nullptr;
    }
    return &window->m_controls[part - 1];
}

CScriptedWindow& CScriptedWindowSystem::RequireWindow(HWND handle, const char* operation) {
    CScriptedWindow* window = WindowOf(handle);
    if (window == nullptr || (Value(handle) & 0xFF) != 0) {
        Fail(std::string(operation) + " on a handle that is no live dialog");
    }
    return *window;
}

CScriptedControl& CScriptedWindowSystem::RequireControl(HWND handle, const char* operation) {
    CScriptedControl* control = ControlOf(handle);
    if (control == nullptr) {
        Fail(std::string(operation) + " on a handle that is no live control");
    }
    return *control;
}

CScriptedWindow& CScriptedWindowSystem::AddWindow(CDialog& dialog, const DialogTemplate& tmpl) {
    auto window = std::make_unique<CScriptedWindow>(*this, dialog, tmpl);
    window->m_serial = m_nextSerial++;
    window->m_hasSystemMenu = window->m_hasSystemMenu && std::find(m_noSystemMenu.begin(), m_noSystemMenu.end(),
                                                                   static_cast<UINT>(tmpl.id)) == m_noSystemMenu.end();
    CScriptedWindow& added = *window;
    m_windows.push_back(std::move(window));
    dialog.Attach(added.Handle());
    return added;
}

void CScriptedWindowSystem::RemoveWindow(CScriptedWindow* window) {
    auto it = std::find_if(m_windows.begin(), m_windows.end(),
                           [window](const std::unique_ptr<CScriptedWindow>& w) { return w.get() == window; });
    if (it != m_windows.end()) {
        m_windows.erase(it);
    }
}

namespace {

int FirstTabStop(const CScriptedWindow& window) {
    for (const CScriptedControl& control : window.Controls()) {
        if (control.visible && (control.tmpl->style & CS_TABSTOP) != 0) {
            return control.id;
        }
    }
    return -1;
}

} // namespace

INT_PTR CScriptedWindowSystem::RunModalDialog(CDialog& dialog, HWND owner) {
    const UINT templateId = dialog.GetTemplateId();
    const std::string name = std::to_string(templateId);
    Log("Modal(" + name + ")");
    const DialogTemplate* tmpl = FindDialogTemplate(static_cast<int>(templateId));
    if (tmpl == nullptr) {
        Fail("modal run on template " + name + ", which does not exist");
    }
    if (m_modalSteps.empty()) {
        Fail("unexpected modal dialog " + name + ": the script has no step for it");
    }
    if (m_modalSteps.front().first != templateId) {
        Fail("modal dialog " + name + " where the script expected " + std::to_string(m_modalSteps.front().first));
    }
    ModalStep step = std::move(m_modalSteps.front().second);
    m_modalSteps.pop_front();

    CScriptedWindow& created = AddWindow(dialog, *tmpl);
    created.m_modal = true;
    const int serial = created.m_serial;

    // The owner takes no input while the dialog is up. Whatever way the run ends, also by an exception (a process
    // exit, a failed script), the owner gets its state back and the dialog's window goes away, so nothing stale
    // is left for what comes next.
    struct RunGuard {
        CScriptedWindowSystem& system;
        CDialog& dialog;
        int serial;
        int ownerSerial = 0;
        bool ownerWasEnabled = true;
        ~RunGuard() {
            if (ownerSerial != 0) {
                if (CScriptedWindow* owner = system.WindowOf(MakeHandle<HWND>(ownerSerial, 0))) {
                    owner->m_enabled = ownerWasEnabled;
                }
            }
            if (CScriptedWindow* window = system.WindowOf(MakeHandle<HWND>(serial, 0))) {
                system.RemoveWindow(window);
            }
            dialog.Detach();
        }
    } guard{*this, dialog, serial};
    if (CScriptedWindow* ownerWindow = WindowOf(owner); ownerWindow != nullptr && ownerWindow->m_serial != serial) {
        guard.ownerSerial = ownerWindow->m_serial;
        guard.ownerWasEnabled = ownerWindow->m_enabled;
        ownerWindow->m_enabled = false;
    }

    const BOOL focusFirst = dialog.HandleInitDialog();
    CScriptedWindow* window = WindowOf(MakeHandle<HWND>(serial, 0));
    if (window != nullptr && !window->m_ended) {
        if (focusFirst) {
            window->m_focus = FirstTabStop(*window);
        }
        window->m_visible = true;
        step(*window);
        window = WindowOf(MakeHandle<HWND>(serial, 0));
        if (window != nullptr && !window->m_ended) {
            Fail("the script's step for modal dialog " + name + " did not end it");
        }
    }
    const INT_PTR result = window != nullptr ? window->m_result : -1;
    Log("EndModal(" + name + "," + std::to_string(result) + ")");
    return result;
}

bool CScriptedWindowSystem::CreateModelessDialog(CDialog& dialog, HWND) {
    const DialogTemplate* tmpl = FindDialogTemplate(static_cast<int>(dialog.GetTemplateId()));
    if (tmpl == nullptr) {
        return false;
    }
    CScriptedWindow& created = AddWindow(dialog, *tmpl);
    const int serial = created.m_serial;
    Log("Create(" + std::to_string(tmpl->id) + ")");
    BOOL focusFirst = FALSE;
    try {
        focusFirst = dialog.HandleInitDialog();
    } catch (...) {
        if (CScriptedWindow* window = WindowOf(MakeHandle<HWND>(serial, 0))) {
            RemoveWindow(window);
        }
        dialog.Detach();
        throw;
    }
    if (CScriptedWindow* window = WindowOf(MakeHandle<HWND>(serial, 0))) {
        if (focusFirst) {
            window->m_focus = FirstTabStop(*window);
        }
        window->m_visible = (tmpl->style & DS_VISIBLE) != 0;
    }
    return true;
}

void CScriptedWindowSystem::EndDialog(HWND dialog, INT_PTR result) {
    CScriptedWindow& window = RequireWindow(dialog, "EndDialog");
    window.m_ended = true;
    window.m_result = result;
    // An ended dialog leaves the screen at once; a modeless one still has to be destroyed by its owner, a modal one
    // goes when its run returns.
    window.m_visible = false;
}

void CScriptedWindowSystem::DestroyWindow(HWND handle) {
    // Called from destructors: a window that is already gone is not an error here.
    CScriptedWindow* window = WindowOf(handle);
    if (window == nullptr || (Value(handle) & 0xFF) != 0) {
        return;
    }
    Log("Destroy(" + std::to_string(window->m_tmpl->id) + ")");
    if (window->m_modal) {
        // The modal run removes its own window when it returns.
        window->m_ended = true;
        window->m_result = -1;
        window->m_visible = false;
        return;
    }
    window->m_dialog->Detach();
    RemoveWindow(window);
}

void CScriptedWindowSystem::ShowWindow(HWND handle, int showCommand) {
    if (CScriptedControl* control = ControlOf(handle)) {
        control->visible = showCommand != SW_HIDE;
        return;
    }
    CScriptedWindow& window = RequireWindow(handle, "ShowWindow");
    window.m_visible = showCommand != SW_HIDE;
    Log("Show(" + std::to_string(window.m_tmpl->id) + "," + std::to_string(showCommand) + ")");
}

HWND CScriptedWindowSystem::GetDlgItem(HWND dialog, int controlId) {
    CScriptedWindow& window = RequireWindow(dialog, "GetDlgItem");
    for (std::size_t i = 0; i < window.m_controls.size(); ++i) {
        if (window.m_controls[i].id == controlId) {
            return MakeHandle<HWND>(window.m_serial, i + 1);
        }
    }
    return nullptr;
}

int CScriptedWindowSystem::GetWindowText(HWND handle, CString& text) {
    if (CScriptedControl* control = ControlOf(handle)) {
        text = control->text;
    } else {
        text = RequireWindow(handle, "GetWindowText").m_title;
    }
    return CharacterCount(text);
}

void CScriptedWindowSystem::SetWindowText(HWND handle, const CString& text) {
    if (CScriptedControl* control = ControlOf(handle)) {
        control->text = text;
        if (control->kind == ControlKind::Edit) {
            WindowOf(handle)->Notify(EN_CHANGE, control->id);
        }
        return;
    }
    RequireWindow(handle, "SetWindowText").m_title = text;
}

int CScriptedWindowSystem::ListInitStorage(HWND list, int items, int) {
    CScriptedControl& control = RequireControl(list, "ListInitStorage");
    if (control.kind != ControlKind::ListBox) {
        Fail("ListInitStorage on control " + std::to_string(control.id) + ", which is no list");
    }
    ++control.initStorageCalls;
    return items;
}

int CScriptedWindowSystem::ListInsertString(HWND list, int position, const CString& text) {
    CScriptedControl& control = RequireControl(list, "ListInsertString");
    if (control.kind != ControlKind::ListBox) {
        Fail("ListInsertString on control " + std::to_string(control.id) + ", which is no list");
    }
    const int count = static_cast<int>(control.items.size());
    if (position == -1) {
        position = count;
    }
    if (position < 0 || position > count) {
        return LB_ERR;
    }
    control.items.insert(control.items.begin() + position, text);
    if (control.curSel >= position) {
        ++control.curSel;
    }
    return position;
}

int CScriptedWindowSystem::ListAddStrings(HWND list, const std::vector<CString>& texts) {
    CScriptedControl& control = RequireControl(list, "ListAddStrings");
    if (control.kind != ControlKind::ListBox) {
        Fail("ListAddStrings on control " + std::to_string(control.id) + ", which is no list");
    }
    ++control.addStringsCalls;
    control.items.insert(control.items.end(), texts.begin(), texts.end());
    return static_cast<int>(control.items.size());
}

int CScriptedWindowSystem::ListGetCurSel(HWND list) {
    CScriptedControl& control = RequireControl(list, "ListGetCurSel");
    return control.kind == ControlKind::ListBox ? control.curSel : LB_ERR;
}

int CScriptedWindowSystem::ListSelectString(HWND list, int startAfter, const CString& prefix) {
    CScriptedControl& control = RequireControl(list, "ListSelectString");
    if (control.kind != ControlKind::ListBox) {
        Fail("ListSelectString on control " + std::to_string(control.id) + ", which is no list");
    }
    const int count = static_cast<int>(control.items.size());
    // From the item after startAfter to the end, then from the first back to startAfter itself; a start outside
    // the list searches the whole list from the first item.
    const int first = startAfter >= 0 && startAfter < count ? startAfter + 1 : 0;
    for (int step = 0; step < count; ++step) {
        const int position = (first + step) % count;
        if (StartsWithIgnoringCase(control.items[static_cast<std::size_t>(position)], prefix)) {
            control.curSel = position;
            return position;
        }
    }
    return LB_ERR;
}

int CScriptedWindowSystem::ListSetCurSel(HWND list, int position) {
    CScriptedControl& control = RequireControl(list, "ListSetCurSel");
    if (control.kind != ControlKind::ListBox || position < 0 || position >= static_cast<int>(control.items.size())) {
        return LB_ERR;
    }
    control.curSel = position;
    return position;
}

CScriptedControl& CScriptedWindowSystem::RequireReport(HWND handle, const char* operation) {
    CScriptedControl& control = RequireControl(handle, operation);
    if (control.kind != ControlKind::ReportList) {
        Fail(std::string(operation) + " on control " + std::to_string(control.id) + ", which is no report list");
    }
    return control;
}

void CScriptedWindowSystem::ReportSetColumns(HWND list, const std::vector<ReportColumn>& columns) {
    CScriptedControl& control = RequireReport(list, "ReportSetColumns");
    control.columns = columns;
    control.rows.clear();
    control.selectedKey.reset();
    control.sort = ReportSort{};
}

int CScriptedWindowSystem::ReportSetRows(HWND list, const std::vector<ReportRow>& rows) {
    CScriptedControl& control = RequireReport(list, "ReportSetRows");
    // Where the selected row stood, for when it is gone from the new rows.
    int shownAt = -1;
    if (control.selectedKey) {
        const std::vector<long> keys = ReportGetKeys(list);
        shownAt = static_cast<int>(std::find(keys.begin(), keys.end(), *control.selectedKey) - keys.begin());
    }
    control.rows = rows;
    const std::vector<long> keys = ReportGetKeys(list);
    if (control.selectedKey && std::find(keys.begin(), keys.end(), *control.selectedKey) == keys.end()) {
        control.selectedKey.reset();
        if (!keys.empty() && shownAt >= 0) {
            control.selectedKey = keys[static_cast<std::size_t>(std::min(shownAt, static_cast<int>(keys.size()) - 1))];
        }
    }
    return static_cast<int>(rows.size());
}

std::optional<long> CScriptedWindowSystem::ReportGetSelection(HWND list) {
    return RequireReport(list, "ReportGetSelection").selectedKey;
}

bool CScriptedWindowSystem::ReportSelectKey(HWND list, long key) {
    CScriptedControl& control = RequireReport(list, "ReportSelectKey");
    const bool found =
        std::any_of(control.rows.begin(), control.rows.end(), [key](const ReportRow& row) { return row.key == key; });
    if (found) {
        control.selectedKey = key;
    }
    return found;
}

void CScriptedWindowSystem::ReportSortBy(HWND list, const ReportSort& sort) {
    RequireReport(list, "ReportSortBy").sort = sort;
}

ReportSort CScriptedWindowSystem::ReportGetSort(HWND list) {
    return RequireReport(list, "ReportGetSort").sort;
}

std::vector<long> CScriptedWindowSystem::ReportGetKeys(HWND list) {
    const CScriptedControl& control = RequireReport(list, "ReportGetKeys");
    std::vector<long> keys;
    for (const int position : ReportOrder(control.rows, control.sort, control.columns)) {
        keys.push_back(control.rows[static_cast<std::size_t>(position)].key);
    }
    return keys;
}

void CScriptedWindowSystem::EnableWindow(HWND control, bool enable) {
    RequireControl(control, "EnableWindow").enabled = enable;
}

void CScriptedWindowSystem::SetFocus(HWND control) {
    CScriptedControl& target = RequireControl(control, "SetFocus");
    WindowOf(control)->m_focus = target.id;
}

void CScriptedWindowSystem::RedrawWindow(HWND handle, UINT) {
    if (CScriptedControl* control = ControlOf(handle)) {
        ++control->redraws;
        Log("Redraw(" + std::to_string(control->id) + ")");
        return;
    }
    Log("Redraw(" + std::to_string(RequireWindow(handle, "RedrawWindow").m_tmpl->id) + ")");
}

int CScriptedWindowSystem::GetCheck(HWND button) {
    return RequireControl(button, "GetCheck").check;
}

void CScriptedWindowSystem::SetCheck(HWND button, int check) {
    RequireControl(button, "SetCheck").check = check;
}

int CScriptedWindowSystem::MessageBox(HWND owner, const CString& text, const CString& caption, UINT style) {
    m_messageBoxes.push_back({owner, text, caption, style});
    Log("MessageBox(" + caption + "|" + text + ")");
    // A box with an owner disables it while it is up, like a modal dialog; an owner-less box disables nothing.
    CScriptedWindow* ownerWindow = WindowOf(owner);
    const int ownerSerial = ownerWindow != nullptr ? ownerWindow->m_serial : 0;
    const bool ownerWasEnabled = ownerWindow != nullptr && ownerWindow->m_enabled;
    if (ownerWindow != nullptr) {
        ownerWindow->m_enabled = false;
    }
    struct OwnerGuard {
        CScriptedWindowSystem& system;
        int serial;
        bool wasEnabled;
        ~OwnerGuard() {
            if (serial != 0) {
                if (CScriptedWindow* window = system.WindowOf(MakeHandle<HWND>(serial, 0))) {
                    window->m_enabled = wasEnabled;
                }
            }
        }
    } guard{*this, ownerSerial, ownerWasEnabled};
    if (!m_messageBoxSteps.empty()) {
        MessageBoxStep step = std::move(m_messageBoxSteps.front());
        m_messageBoxSteps.pop_front();
        step();
    }
    return IDOK;
}

void CScriptedWindowSystem::BeginWaitCursor() {
    ++m_waitDepth;
    Log("BeginWaitCursor");
}

void CScriptedWindowSystem::EndWaitCursor() {
    // Also called from destructors, so an unmatched end is recorded rather than thrown.
    if (m_waitDepth == 0) {
        m_failures.push_back("EndWaitCursor without a matching BeginWaitCursor");
    } else {
        --m_waitDepth;
    }
    Log("EndWaitCursor");
}

CString CScriptedWindowSystem::LoadString(UINT id) {
    auto it = m_strings.find(id);
    return it != m_strings.end() ? it->second : CString();
}

HICON CScriptedWindowSystem::LoadIcon(UINT id) {
    return reinterpret_cast<HICON>(kIconBase + id);
}

void CScriptedWindowSystem::SetIcon(HWND window, HICON icon, bool big) {
    CScriptedWindow& target = RequireWindow(window, "SetIcon");
    (big ? target.m_bigIcon : target.m_smallIcon) = icon;
}

HMENU CScriptedWindowSystem::GetSystemMenu(HWND window) {
    CScriptedWindow& target = RequireWindow(window, "GetSystemMenu");
    return target.m_hasSystemMenu ? MakeHandle<HMENU>(target.m_serial, kSystemMenu) : nullptr;
}

bool CScriptedWindowSystem::AppendMenu(HMENU menu, UINT flags, UINT_PTR id, const CString& text) {
    if (menu == nullptr || (Value(menu) & 0xFF) != kSystemMenu) {
        return false;
    }
    CScriptedWindow* window = WindowOf(MakeHandle<HWND>(static_cast<int>(Value(menu) >> 8), 0));
    if (window == nullptr || !window->m_hasSystemMenu) {
        return false;
    }
    window->m_systemMenu.push_back({flags, id, (flags & MF_SEPARATOR) != 0 ? std::string() : text});
    return true;
}

bool CScriptedWindowSystem::SetMenu(HWND window, UINT menuId) {
    CScriptedWindow& target = RequireWindow(window, "SetMenu");
    const MenuTemplate* menu = FindMenuTemplate(static_cast<int>(menuId));
    if (menu == nullptr || target.m_menuBar != nullptr) {
        return false;
    }
    target.m_menuBar = menu;
    return true;
}

bool CScriptedWindowSystem::EnableMenuItem(HWND window, UINT id, bool enable) {
    CScriptedWindow& target = RequireWindow(window, "EnableMenuItem");
    if (target.m_menuBar == nullptr) {
        return false;
    }
    for (const MenuPopupTemplate& popup : target.m_menuBar->popups) {
        for (const MenuItemTemplate& item : popup.items) {
            if (item.id != 0 && static_cast<UINT>(item.id) == id) {
                if (enable) {
                    target.m_disabledMenuItems.erase(item.id);
                } else {
                    target.m_disabledMenuItems.insert(item.id);
                }
                return true;
            }
        }
    }
    return false;
}

bool CScriptedWindowSystem::IsIconic(HWND window) {
    return RequireWindow(window, "IsIconic").m_iconic;
}

HDC CScriptedWindowSystem::BeginPaint(HWND window) {
    CScriptedWindow& target = RequireWindow(window, "BeginPaint");
    Log("BeginPaint");
    return MakeHandle<HDC>(target.m_serial, kPaintContext);
}

void CScriptedWindowSystem::EndPaint(HWND, HDC) {
    Log("EndPaint");
}

int CScriptedWindowSystem::GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXICON:
        return m_iconCx;
    case SM_CYICON:
        return m_iconCy;
    default:
        return 0;
    }
}

RECT CScriptedWindowSystem::GetClientRect(HWND window) {
    CScriptedWindow& target = RequireWindow(window, "GetClientRect");
    return RECT{0, 0, target.m_clientWidth, target.m_clientHeight};
}

void CScriptedWindowSystem::DrawIcon(HDC, int x, int y, HICON) {
    Log("DrawIcon(" + std::to_string(x) + "," + std::to_string(y) + ")");
}

LRESULT CScriptedWindowSystem::DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_ICONERASEBKGND) {
        Log("EraseIconBkgnd");
        return 1;
    }
    Log("DefWindowProc(" + std::to_string(message) + "," + std::to_string(wParam) + ")");
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        // The close box is the Cancel command, as Escape is.
        if (CScriptedWindow* target = WindowOf(window)) {
            target->Notify(BN_CLICKED, IDCANCEL);
        }
    }
    return 0;
}

void CScriptedWindowSystem::ExitProcess(int status) {
    Log("Exit(" + std::to_string(status) + ")");
    throw CScriptedProcessExit{status};
}
