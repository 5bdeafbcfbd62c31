#pragma once

#include "QtWindowSystem.h"
#include "ToolkitDriver.h"

class CQtDialogWindow;
class QWidget;

// Drives the Qt toolkit with real key presses and mouse clicks.
class CQtDriver : public CToolkitDriver {
public:
    CQtDriver();
    ~CQtDriver() override;

    CWindowSystem& System() override { return m_system; }
    CQtWindowSystem& QtSystem() { return m_system; }
    void Open(CDialog& dialog) override;
    CQtDialogWindow* Window() const { return m_window; }
    QWidget* Widget(int id) const;

    void Type(int id, const std::string& text) override;
    void Paste(int id, const std::string& text) override;
    void Focus(int id) override;
    void Click(int id) override;
    void SelectByUser(int id, int position) override;
    void ClickHeader(int id, int column) override;
    void PressKey(const std::string& keys) override;
    void PressEnter() override;
    void PressEscape() override;
    bool IsEnabled() override;
    SeenMessageBox MessageBoxWhile(const std::string& text, const std::string& caption,
                                   std::function<void()> whileUp) override;

private:
    CQtWindowSystem m_system;
    CQtDialogWindow* m_window = nullptr;
};
