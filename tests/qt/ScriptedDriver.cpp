#include "ScriptedDriver.h"

#include <utility>

#include <gtest/gtest.h>

#include "Dialog.h"

void CScriptedDriver::Open(CDialog& dialog) {
    m_templateId = dialog.GetTemplateId();
    ASSERT_TRUE(dialog.CreateModeless(m_templateId, nullptr));
    m_system.ShowWindow(dialog.GetSafeHwnd(), SW_SHOW);
}

CScriptedWindow& CScriptedDriver::Window() {
    CScriptedWindow* window = m_system.FindWindow(m_templateId);
    if (window == nullptr) {
        throw CScriptedFailure{"no open window on template " + std::to_string(m_templateId)};
    }
    return *window;
}

CToolkitDriver::SeenMessageBox CScriptedDriver::MessageBoxWhile(const std::string& text, const std::string& caption,
                                                                std::function<void()> whileUp) {
    m_system.OnNextMessageBox(std::move(whileUp));
    SeenMessageBox seen;
    seen.result = m_system.MessageBox(nullptr, text, caption, MB_OK);
    if (!m_system.MessageBoxes().empty()) {
        seen.text = m_system.MessageBoxes().back().text;
        seen.caption = m_system.MessageBoxes().back().caption;
    }
    return seen;
}
