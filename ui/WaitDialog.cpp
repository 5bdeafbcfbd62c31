#include "WaitDialog.h"

#include "WindowSystem.h"
#include "resource.h"

CWaitDialog::CWaitDialog(CWnd* parent) : CDialog(IDD_WAIT_DIALOG, parent) {}

CWaitDialog::CWaitDialog(const CString& text) : CDialog(IDD_WAIT_DIALOG, nullptr), m_text(text) {}

CWaitDialog::~CWaitDialog() = default;

BOOL CWaitDialog::Create(UINT templateId, CWnd* parent) {
    const BOOL created = CreateModeless(templateId, parent);
    if (created && GetSafeHwnd() != nullptr) {
        SetDlgItemText(IDC_WAIT_TEXT, m_text);
    }
    return created;
}

void CWaitDialog::ShowProgress(const CString& line) {
    if (GetSafeHwnd() != nullptr) {
        SetDlgItemText(IDC_WAIT_TEXT, line.empty() ? m_text : m_text + "\r\n" + line);
    }
    AfxGetWindowSystem().ProcessPendingEvents();
}

void CWaitDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

BEGIN_MESSAGE_MAP(CWaitDialog, CDialog)
END_MESSAGE_MAP()
