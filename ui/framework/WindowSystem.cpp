#include "WindowSystem.h"

#include <stdexcept>

namespace {
CWindowSystem* g_windowSystem = nullptr;
}

CWindowSystem& AfxGetWindowSystem() {
    if (g_windowSystem == nullptr) {
        // A window operation before main() or a test chose a toolkit is a programming error, not a user's.
        throw std::logic_error("no window system has been set");
    }
    return *g_windowSystem;
}

void AfxSetWindowSystem(CWindowSystem* windowSystem) {
    g_windowSystem = windowSystem;
}

bool AfxHasWindowSystem() {
    return g_windowSystem != nullptr;
}

int GetSystemMetrics(int index) {
    return AfxGetWindowSystem().GetSystemMetrics(index);
}

int AfxMessageBox(const CString& text, const CString& caption, UINT style) {
    return AfxGetWindowSystem().MessageBox(nullptr, text, caption, style);
}
