#pragma once

#include "MessageMap.h"
#include "WinApp.h"

// The application: runs the main window modally and ends when it closes.
class CTollivexApp : public CWinApp {
public:
    CTollivexApp();
    ~CTollivexApp() override;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
