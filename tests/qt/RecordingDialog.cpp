#include "RecordingDialog.h"

#include <algorithm>

BEGIN_MESSAGE_MAP(CRecordingDialog, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
END_MESSAGE_MAP()

CRecordingDialog::CRecordingDialog(UINT templateId, bool endOnOkCancel, CWnd* parent)
    : CDialog(templateId, parent), m_endOnOkCancel(endOnOkCancel) {}

bool CRecordingDialog::OnCmdMsg(UINT code, int id) {
    m_commands.emplace_back(code, id);
    return CDialog::OnCmdMsg(code, id);
}

bool CRecordingDialog::Received(UINT code, int id) const {
    return std::find(m_commands.begin(), m_commands.end(), std::pair<UINT, int>(code, id)) != m_commands.end();
}

void CRecordingDialog::Clear() {
    m_commands.clear();
    m_sysCommands.clear();
}

void CRecordingDialog::OnSysCommand(UINT id, LPARAM lParam) {
    m_sysCommands.push_back(id);
    CWnd::OnSysCommand(id, lParam);
}

void CRecordingDialog::OnPaint() {
    ++m_paints;
    CWnd::OnPaint();
}

void CRecordingDialog::OnOK() {
    if (m_endOnOkCancel) {
        CDialog::OnOK();
    }
}

void CRecordingDialog::OnCancel() {
    if (m_endOnOkCancel) {
        CDialog::OnCancel();
    }
}
