#include "WinApp.h"

#include "resource.h"

namespace {
CWinApp* g_app = nullptr;
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

// The application object registers itself. A second one (a test's) stands in for the first while it lives and hands
// the role back when it goes.
CWinApp::CWinApp() : m_previousApp(g_app) {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) {
        g_app = m_previousApp;
    }
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return 0;
}

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp() {
    return g_app;
}

CWnd* AfxGetMainWnd() {
    return g_app != nullptr ? g_app->m_pMainWnd : nullptr;
}

int AfxWinMain() {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return 1;
    }
    // There is no message loop of the framework's own: whatever InitInstance answers, the application ends here.
    app->InitInstance();
    return app->ExitInstance();
}
