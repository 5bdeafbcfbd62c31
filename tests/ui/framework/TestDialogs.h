#pragma once

#include <functional>
#include <string>
#include <vector>

#include "AfxTypes.h"
#include "Button.h"
#include "DataExchange.h"
#include "Dialog.h"
#include "ListBox.h"
#include "MessageMap.h"
#include "WinApp.h"
#include "resource.h"

// Small dialogs of the tests' own on the program's real templates.

// On the main window's template: binds two control objects and exchanges the check box, records its handlers.
class CMainTemplateDialog : public CDialog {
public:
    explicit CMainTemplateDialog(CWnd* parent = nullptr) : CDialog(IDD_TOLLIVEX_DIALOG, parent) {}

    CButton m_refreshButton;
    CListBox m_movieList;
    int m_exactPredictions = 0;
    std::vector<std::string> calls;
    std::function<void()> onLogin; // what the Login button does, when set
    std::function<BOOL()> onInit;  // replaces the body after the base initialisation, when set

    void OnLogin() {
        calls.push_back("OnLogin");
        if (onLogin) {
            onLogin();
        }
    }
    void OnSearchChange() { calls.push_back("OnSearchChange"); }
    void OnUserIdChange() { calls.push_back("OnUserIdChange"); }
    void OnRatingChange() { calls.push_back("OnRatingChange"); }
    void OnExact() { calls.push_back("OnExact"); }
    void OnSelChange() { calls.push_back("OnSelChange"); }
    void OnDblClk() { calls.push_back("OnDblClk"); }
    void OnGetRating() { calls.push_back("OnGetRating"); }
    void OnSysCommand(UINT id, LPARAM lParam) {
        calls.push_back("OnSysCommand(" + std::to_string(id) + ")");
        CDialog::OnSysCommand(id, lParam);
    }
    void OnOK() override {
        calls.push_back("OnOK");
        CDialog::OnOK();
    }
    void OnCancel() override {
        calls.push_back("OnCancel");
        CDialog::OnCancel();
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        CDialog::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_REFRESH, m_refreshButton);
        DDX_Control(pDX, IDC_MOVIE_LIST, m_movieList);
        DDX_Check(pDX, IDC_EXACT_PREDICTIONS, m_exactPredictions);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        return onInit ? onInit() : TRUE;
    }

    DECLARE_MESSAGE_MAP()
};

// On the login template, with nothing of its own: the base OK and Cancel actions only.
class CPlainLoginDialog : public CDialog {
public:
    CPlainLoginDialog() : CDialog(IDD_LOGIN_DIALOG) {}
};

// An application object that records what reaches its command handling.
class CRecordingApp : public CWinApp {
public:
    struct Command {
        UINT code;
        int id;
        bool handled;
    };
    std::vector<Command> commands;
    int ownCommands = 0;

    bool OnCmdMsg(UINT code, int id) override {
        const bool handled = CWinApp::OnCmdMsg(code, id);
        commands.push_back({code, id, handled});
        return handled;
    }
    void OnOwnCommand() { ++ownCommands; }

    DECLARE_MESSAGE_MAP()
};
