#pragma once

#include <utility>
#include <vector>

#include "AfxTypes.h"
#include "Dialog.h"
#include "MessageMap.h"

// A dialog on any template that records every command and system command it receives, in order. OK and Cancel
// are recorded but do not end it unless `endOnOkCancel` is set, so one window serves a whole test.
class CRecordingDialog : public CDialog {
public:
    explicit CRecordingDialog(UINT templateId, bool endOnOkCancel = false, CWnd* parent = nullptr);

    bool OnCmdMsg(UINT code, int id) override;

    std::vector<std::pair<UINT, int>> m_commands;
    std::vector<UINT> m_sysCommands;
    int m_paints = 0;

    bool Received(UINT code, int id) const;
    void Clear();

    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();

protected:
    void OnOK() override;
    void OnCancel() override;

private:
    bool m_endOnOkCancel;

    DECLARE_MESSAGE_MAP()
};
