#pragma once

#include "CString.h"
#include "Dialog.h"
#include "MessageMap.h"

// The login dialog on template 105. It only captures the two texts and how it was closed; the caller reads the
// four members after the modal run and decides what to do.
class CLoginDialog : public CDialog {
public:
    explicit CLoginDialog(CWnd* parent = nullptr);
    ~CLoginDialog() override;

    CString m_userName;  // as typed, untrimmed
    CString m_password;  // as typed, untrimmed
    CString m_errorText; // empty when both fields were given, else what was missing
    bool m_newUser;      // closed through New User rather than OK

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnNewUser();

private:
    // Reads both fields into the members and notes which one is missing; the password is checked last, so its
    // message is the one that stays when both are empty.
    void ReadFields();

    DECLARE_MESSAGE_MAP()
};
