#include "WaitCursor.h"

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
