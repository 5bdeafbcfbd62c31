#include "Dialog.h"

#include "DataExchange.h"
#include "WinApp.h"
#include "WindowSystem.h"
#include "resource.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() {
    // The member control objects are already gone; only forget them.
    m_boundControls.clear();
    if (m_hWnd != nullptr && AfxHasWindowSystem()) {
        try {
            AfxGetWindowSystem().DestroyWindow(m_hWnd);
        } catch (...) {
            // Never throw from a destructor; the window is unusable either way.
        }
    }
    m_hWnd = nullptr;
    // A main window that leaves (also while a failure unwinds) must not stay registered as the main window.
    if (CWinApp* app = AfxGetApp(); app != nullptr && app->m_pMainWnd == this) {
        app->m_pMainWnd = nullptr;
    }
}

INT_PTR CDialog::DoModal() {
    HWND owner = nullptr;
    if (m_pParentWnd != nullptr) {
        owner = m_pParentWnd->GetSafeHwnd();
    } else if (CWnd* mainWnd = AfxGetMainWnd(); mainWnd != nullptr && mainWnd != this) {
        owner = mainWnd->GetSafeHwnd();
    }
    struct Unbinder {
        CDialog* dialog;
        ~Unbinder() { dialog->UnbindControls(); }
    } unbinder{this};
    return AfxGetWindowSystem().RunModalDialog(*this, owner);
}

BOOL CDialog::CreateModeless(UINT templateId, CWnd* parent) {
    m_templateId = templateId;
    m_pParentWnd = parent;
    HWND parentHandle = parent != nullptr ? parent->GetSafeHwnd() : nullptr;
    return AfxGetWindowSystem().CreateModelessDialog(*this, parentHandle) ? TRUE : FALSE;
}

void CDialog::EndDialog(INT_PTR result) {
    if (m_hWnd != nullptr) {
        AfxGetWindowSystem().EndDialog(m_hWnd, result);
    }
}

void CDialog::DestroyWindow() {
    if (m_hWnd != nullptr) {
        AfxGetWindowSystem().DestroyWindow(m_hWnd);
    }
    m_hWnd = nullptr;
    UnbindControls();
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate != FALSE);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::HandleInitDialog() {
    return OnInitDialog();
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) {
        return;
    }
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::OnCommandDefault(UINT code, int id) {
    if (code == BN_CLICKED && id == IDOK) {
        OnOK();
    } else if (code == BN_CLICKED && id == IDCANCEL) {
        OnCancel();
    } else if (CWinApp* app = AfxGetApp(); app != nullptr) {
        app->OnCmdMsg(code, id);
    }
}

void CDialog::UnbindControls() {
    for (CWnd* control : m_boundControls) {
        control->Detach();
    }
    m_boundControls.clear();
}
