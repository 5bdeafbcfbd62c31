#pragma once

#include <functional>
#include <string>

#include "Dialog.h"
#include "WindowSystem.h"

// What a user does to one open dialog, said once for both toolkits, so the same test cases run against the Qt
// toolkit and the scripted one and prove that they behave alike.
class CToolkitDriver {
public:
    virtual ~CToolkitDriver() = default;

    virtual CWindowSystem& System() = 0;
    // Creates the dialog's window (modeless) and shows it; the driver's actions then go to that window.
    virtual void Open(CDialog& dialog) = 0;

    virtual void Type(int id, const std::string& text) = 0;  // replaces the edit's text by typing
    virtual void Paste(int id, const std::string& text) = 0; // replaces the edit's text by pasting
    virtual void Focus(int id) = 0;
    virtual void Click(int id) = 0;
    // Selects the list's item at `position` (a report list's row shown there) by a mouse click.
    virtual void SelectByUser(int id, int position) = 0;
    // Clicks the heading of a report list's column.
    virtual void ClickHeader(int id, int column) = 0;
    // Presses keys ("1", "Delete", "Ctrl+2") where the keyboard focus is.
    virtual void PressKey(const std::string& keys) = 0;
    virtual void PressEnter() = 0;
    virtual void PressEscape() = 0;
    virtual bool IsEnabled() = 0; // the open dialog's window

    struct SeenMessageBox {
        std::string text;
        std::string caption;
        int result = 0;
    };
    // Shows an owner-less message box, runs `whileUp` while it is up, then dismisses it with OK.
    virtual SeenMessageBox MessageBoxWhile(const std::string& text, const std::string& caption,
                                           std::function<void()> whileUp) = 0;
};
