#pragma once

#include "AfxTypes.h"
#include "ScriptedWindowSystem.h"
#include "ToolkitDriver.h"

// Drives the scripted in-memory toolkit through its own user actions.
class CScriptedDriver : public CToolkitDriver {
public:
    CWindowSystem& System() override { return m_system; }
    void Open(CDialog& dialog) override;

    void Type(int id, const std::string& text) override { Window().Type(id, text); }
    void Paste(int id, const std::string& text) override { Window().Paste(id, text); }
    void Focus(int id) override { Window().SetFocus(id); }
    void Click(int id) override { Window().Click(id); }
    void SelectByUser(int id, int position) override { Window().Select(id, position); }
    void ClickHeader(int id, int column) override { Window().ClickHeader(id, column); }
    void PressKey(const std::string& keys) override { Window().PressKey(keys); }
    void PressEnter() override { Window().PressEnter(); }
    void PressEscape() override { Window().PressEscape(); }
    bool IsEnabled() override { return Window().IsEnabled(); }
    SeenMessageBox MessageBoxWhile(const std::string& text, const std::string& caption,
                                   std::function<void()> whileUp) override;

private:
    CScriptedWindow& Window();

    CScriptedWindowSystem m_system;
    UINT m_templateId = 0;
};
