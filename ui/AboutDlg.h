#pragma once

#include "Dialog.h"
#include "MessageMap.h"

// The About box on template 100, opened from the main window's system menu.
class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
};
