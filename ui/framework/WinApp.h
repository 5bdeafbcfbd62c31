#pragma once

#include "AfxTypes.h"
#include "CmdTarget.h"
#include "MessageMap.h"

class CWnd;

// The application object: there is one, and AfxWinMain runs its InitInstance.
class CWinApp : public CCmdTarget {
public:
    CWinApp();
    ~CWinApp() override;

    // Runs the application; returning false means "no message loop of our own: exit".
    virtual BOOL InitInstance();
    // The exit status AfxWinMain returns after InitInstance.
    virtual int ExitInstance();

    // The default help handler (the program supplies no help content).
    void OnHelp();

    CWnd* m_pMainWnd = nullptr;

    DECLARE_MESSAGE_MAP()

private:
    CWinApp* m_previousApp;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// Runs the application object: InitInstance, then ExitInstance; returns the process's exit status.
int AfxWinMain();
