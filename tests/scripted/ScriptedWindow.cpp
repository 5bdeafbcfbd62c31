#include "ScriptedWindowSystem.h"
#include "resource.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <utility>

namespace {

const char* KindName(ControlKind kind) {
    switch (kind) {
    case ControlKind::PushButton:
        return "push button";
    case ControlKind::Edit:
        return "edit";
    case ControlKind::StaticText:
        return "static text";
    case ControlKind::ListBox:
        return "list box";
    case ControlKind::CheckBox:
        return "check box";
    case ControlKind::GroupBox:
        return "group box";
    case ControlKind::StaticIcon:
        return "static icon";
    case ControlKind::ReportList:
        return "report list";
    }
    return "control";
}

} // namespace

CScriptedWindow::CScriptedWindow(CScriptedWindowSystem& system, CDialog& dialog, const DialogTemplate& tmpl)
    : m_system(&system), m_dialog(&dialog), m_tmpl(&tmpl), m_title(tmpl.title), m_clientWidth(tmpl.cx),
      m_clientHeight(tmpl.cy) {
    m_controls.reserve(tmpl.controls.size());
    for (const ControlTemplate& entry : tmpl.controls) {
        CScriptedControl control;
        control.tmpl = &entry;
        control.id = entry.id;
        control.kind = entry.kind;
        control.text = std::string(entry.text);
        control.visible = (entry.style & CS_HIDDEN) == 0;
        m_controls.push_back(std::move(control));
    }
    m_hasSystemMenu = (tmpl.style & DS_SYSMENU) != 0;
}

HWND CScriptedWindow::Handle() {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(m_serial) << 8);
}

CScriptedControl& CScriptedWindow::Control(int id) {
    for (CScriptedControl& control : m_controls) {
        if (control.id == id) {
            return control;
        }
    }
    m_system->Fail("dialog " + std::to_string(m_tmpl->id) + " has no control " + std::to_string(id));
}

bool CScriptedWindow::HasControl(int id) const {
    return std::any_of(m_controls.begin(), m_controls.end(), [id](const CScriptedControl& c) { return c.id == id; });
}

void CScriptedWindow::RequireEnabled(const char* action) const {
    if (!m_enabled) {
        m_system->Fail(std::string(action) + " on dialog " + std::to_string(m_tmpl->id) +
                       ", which is disabled by a modal dialog above it");
    }
}

CScriptedControl& CScriptedWindow::RequireKind(int id, ControlKind kind, const char* action) {
    CScriptedControl& control = Control(id);
    if (control.kind != kind) {
        m_system->Fail(std::string(action) + " needs a " + KindName(kind) + ", but control " + std::to_string(id) +
                       " is a " + KindName(control.kind));
    }
    return control;
}

void CScriptedWindow::Notify(UINT code, int id) {
    m_dialog->OnCommandNotification(code, id);
}

void CScriptedWindow::Type(int id, const std::string& text) {
    RequireEnabled("Type");
    CScriptedControl& edit = RequireKind(id, ControlKind::Edit, "Type");
    if ((edit.tmpl->style & CS_READONLY) != 0) {
        m_system->Fail("Type into the read-only edit " + std::to_string(id));
    }
    std::string typed = text;
    if ((edit.tmpl->style & CS_NUMBER) != 0) {
        // A digits-only edit refuses every other typed character.
        typed.erase(std::remove_if(typed.begin(), typed.end(), [](unsigned char c) { return std::isdigit(c) == 0; }),
                    typed.end());
    }
    edit.text = typed;
    m_focus = id;
    Notify(EN_CHANGE, id);
}

void CScriptedWindow::Paste(int id, const std::string& text) {
    RequireEnabled("Paste");
    CScriptedControl& edit = RequireKind(id, ControlKind::Edit, "Paste");
    if ((edit.tmpl->style & CS_READONLY) != 0) {
        m_system->Fail("Paste into the read-only edit " + std::to_string(id));
    }
    edit.text = text;
    m_focus = id;
    Notify(EN_CHANGE, id);
}

void CScriptedWindow::Click(int id) {
    RequireEnabled("Click");
    CScriptedControl& button = Control(id);
    if (button.kind != ControlKind::PushButton && button.kind != ControlKind::CheckBox) {
        m_system->Fail("Click needs a push button or a check box, but control " + std::to_string(id) + " is a " +
                       KindName(button.kind));
    }
    if (!button.enabled) {
        m_system->Fail("Click on control " + std::to_string(id) + ", which is disabled");
    }
    if (button.kind == ControlKind::CheckBox && (button.tmpl->style & CS_AUTOCHECK) != 0) {
        button.check = button.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    }
    m_focus = id;
    Notify(BN_CLICKED, id);
}

void CScriptedWindow::Select(int id, int pos) {
    RequireEnabled("Select");
    CScriptedControl& list = Control(id);
    if (list.kind == ControlKind::ReportList) {
        const std::vector<long> keys = m_system->ReportGetKeys(m_system->GetDlgItem(Handle(), id));
        if (pos < 0 || pos >= static_cast<int>(keys.size())) {
            m_system->Fail("Select of row " + std::to_string(pos) + " in report list " + std::to_string(id) + " with " +
                           std::to_string(keys.size()) + " rows");
        }
        list.selectedKey = keys[static_cast<std::size_t>(pos)];
        m_focus = id;
        if ((list.tmpl->style & CS_NOTIFY) != 0) {
            Notify(LBN_SELCHANGE, id);
        }
        return;
    }
    RequireKind(id, ControlKind::ListBox, "Select");
    if (pos < 0 || pos >= static_cast<int>(list.items.size())) {
        m_system->Fail("Select of position " + std::to_string(pos) + " in list " + std::to_string(id) + " with " +
                       std::to_string(list.items.size()) + " items");
    }
    list.curSel = pos;
    m_focus = id;
    if ((list.tmpl->style & CS_NOTIFY) != 0) {
        Notify(LBN_SELCHANGE, id);
    }
}

void CScriptedWindow::ClickHeader(int id, int column) {
    RequireEnabled("ClickHeader");
    CScriptedControl& list = RequireKind(id, ControlKind::ReportList, "ClickHeader");
    if (column < 0 || column >= static_cast<int>(list.columns.size())) {
        m_system->Fail("ClickHeader of column " + std::to_string(column) + " in report list " + std::to_string(id));
    }
    list.sort = NextReportSort(list.sort, column, list.columns);
}

void CScriptedWindow::PressKey(const std::string& keys) {
    RequireEnabled("PressKey");
    for (CScriptedControl& control : m_controls) {
        if (control.id == m_focus && control.kind == ControlKind::ReportList) {
            if (const std::optional<ReportSort> sort = ReportSortForKey(control.sort, keys, control.columns)) {
                control.sort = *sort;
                return;
            }
        }
    }
    for (const AcceleratorTemplate& accelerator : m_tmpl->accelerators) {
        if (accelerator.keys == keys) {
            if (HasControl(accelerator.id) && !Control(accelerator.id).enabled) {
                return;
            }
            Notify(BN_CLICKED, accelerator.id);
            return;
        }
    }
    PressShortcut(keys);
}

std::vector<std::string> CScriptedWindow::Rows(int id) {
    CScriptedControl& list = RequireKind(id, ControlKind::ReportList, "Rows");
    std::vector<std::string> rows;
    for (const int position : ReportOrder(list.rows, list.sort, list.columns)) {
        const std::vector<CString>& cells = list.rows[static_cast<std::size_t>(position)].cells;
        std::string text;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            text += (c == 0 ? "" : " | ") + cells[c];
        }
        rows.push_back(text);
    }
    return rows;
}

void CScriptedWindow::DoubleClick(int id, int pos) {
    CScriptedWindowSystem* system = m_system;
    const int serial = m_serial;
    Select(id, pos);
    // The selection handler may have destroyed this window; a dead window gets no double-click.
    CScriptedWindow* self = system->WindowOf(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(serial) << 8));
    if (self == nullptr) {
        return;
    }
    if ((self->Control(id).tmpl->style & CS_NOTIFY) != 0) {
        self->Notify(LBN_DBLCLK, id);
    }
}

void CScriptedWindow::PressEnter() {
    RequireEnabled("PressEnter");
    // A focused push button takes Enter itself; otherwise the default push button does, else the OK command.
    for (const CScriptedControl& control : m_controls) {
        if (control.id == m_focus && control.kind == ControlKind::PushButton && control.visible) {
            if (control.enabled) {
                Notify(BN_CLICKED, control.id);
            }
            return;
        }
    }
    for (const CScriptedControl& control : m_controls) {
        if (control.kind == ControlKind::PushButton && control.visible &&
            (control.tmpl->style & CS_DEFPUSHBUTTON) != 0) {
            if (control.enabled) {
                Notify(BN_CLICKED, control.id);
            }
            return;
        }
    }
    Notify(BN_CLICKED, IDOK);
}

void CScriptedWindow::PressEscape() {
    RequireEnabled("PressEscape");
    Notify(BN_CLICKED, IDCANCEL);
}

void CScriptedWindow::SendCommand(UINT code, int id) {
    Notify(code, id);
}

void CScriptedWindow::PressShortcut(const std::string& keys) {
    RequireEnabled("PressShortcut");
    if (m_menuBar != nullptr) {
        for (const MenuPopupTemplate& popup : m_menuBar->popups) {
            for (const MenuItemTemplate& item : popup.items) {
                if (item.id != 0 && item.shortcut == keys) {
                    // A greyed item's shortcut does nothing.
                    if (m_disabledMenuItems.count(item.id) == 0) {
                        Notify(BN_CLICKED, item.id);
                    }
                    return;
                }
            }
        }
    }
    m_system->Fail("dialog " + std::to_string(m_tmpl->id) + " has no menu shortcut " + keys);
}

void CScriptedWindow::SysCommand(UINT id, LPARAM lParam) {
    m_dialog->WindowProc(WM_SYSCOMMAND, id, lParam);
}

void CScriptedWindow::Paint() {
    m_dialog->WindowProc(WM_PAINT, 0, 0);
}

void CScriptedWindow::SetFocus(int id) {
    if (id != -1 && !HasControl(id)) {
        m_system->Fail("SetFocus on dialog " + std::to_string(m_tmpl->id) + ", which has no control " +
                       std::to_string(id));
    }
    m_focus = id;
}
