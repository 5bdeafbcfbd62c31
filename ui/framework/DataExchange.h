#pragma once

class CDialog;
class CWnd;

// Direction and target of one data exchange.
class CDataExchange {
public:
    CDataExchange(CDialog* dialog, bool saveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    CDialog* m_pDlgWnd;
    bool m_bSaveAndValidate; // true: controls to members; false: members to controls
};

// Binds a control object to the dialog's control `id` (load direction, first time only).
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// Exchanges a check box's mark (0 or 1) with an integer.
void DDX_Check(CDataExchange* pDX, int id, int& value);
