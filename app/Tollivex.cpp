#include "Tollivex.h"

#include "AfxTypes.h"
#include "TollivexDlg.h"
#include "resource.h"

BEGIN_MESSAGE_MAP(CTollivexApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CTollivexApp::CTollivexApp() = default;

CTollivexApp::~CTollivexApp() = default;

// The one application object.
CTollivexApp theApp;

BOOL CTollivexApp::InitInstance() {
    {
        CTollivexDlg dlg;
        m_pMainWnd = &dlg;
        // OK and Cancel end the program alike.
        dlg.DoModal();
        m_pMainWnd = nullptr;
    } // the window, and with it the engine, goes away here, before the process ends

    // No message loop of our own: the framework exits.
    return FALSE;
}
