#include "LoginDialog.h"

#include "resource.h"

CLoginDialog::CLoginDialog(CWnd* parent) : CDialog(IDD_LOGIN_DIALOG, parent), m_newUser(false) {}

CLoginDialog::~CLoginDialog() = default;

void CLoginDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

void CLoginDialog::ReadFields() {
    if (GetDlgItemText(IDC_LOGIN_USER_NAME, m_userName) == 0) {
        m_errorText = "User name not given";
    }
    if (GetDlgItemText(IDC_LOGIN_PASSWORD, m_password) == 0) {
        m_errorText = "Password not given";
    }
}

void CLoginDialog::OnOK() {
    ReadFields();
    m_newUser = false;
    CDialog::OnOK();
}

void CLoginDialog::OnNewUser() {
    ReadFields();
    m_newUser = true;
    // The dialog always closes as OK; the caller tells the two buttons apart by m_newUser.
    CDialog::OnOK();
}

BEGIN_MESSAGE_MAP(CLoginDialog, CDialog)
ON_BN_CLICKED(IDC_LOGIN_NEW_USER, OnNewUser)
END_MESSAGE_MAP()
