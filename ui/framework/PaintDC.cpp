#include "PaintDC.h"

#include "WindowSystem.h"
#include "Wnd.h"

CPaintDC::CPaintDC(CWnd* window) : m_window(window), m_hDC(AfxGetWindowSystem().BeginPaint(window->GetSafeHwnd())) {}

CPaintDC::~CPaintDC() {
    try {
        AfxGetWindowSystem().EndPaint(m_window->GetSafeHwnd(), m_hDC);
    } catch (...) {
        // A destructor must not throw; the paint context is gone either way.
    }
}

void CPaintDC::DrawIcon(int x, int y, HICON icon) {
    AfxGetWindowSystem().DrawIcon(m_hDC, x, y, icon);
}
