#include "Button.h"

#include "AfxTypes.h"
#include "WindowSystem.h"

int CButton::GetCheck() const {
    return m_hWnd != nullptr ? AfxGetWindowSystem().GetCheck(m_hWnd) : BST_UNCHECKED;
}

void CButton::SetCheck(int check) {
    if (m_hWnd != nullptr) {
        AfxGetWindowSystem().SetCheck(m_hWnd, check);
    }
}
