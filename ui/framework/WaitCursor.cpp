#include "Wnd.h"

#include "WindowSystem.h"

CWaitCursor::CWaitCursor() {
    AfxGetWindowSystem().BeginWaitCursor();
}

CWaitCursor::~CWaitCursor() {
    try {
        AfxGetWindowSystem().EndWaitCursor();
    } catch (...) {
        // Runs while a failure unwinds too; a second exception here would end the process.
    }
}

int GetSystemMetrics(int index) {
    return AfxGetWindowSystem().GetSystemMetrics(index);
}

int AfxMessageBox(const CString& text, const CString& caption, UINT style) {
    return AfxGetWindowSystem().MessageBox(nullptr, text, caption, style);
}
