#include "DataExchange.h"

#include <algorithm>

#include "AfxTypes.h"
#include "Dialog.h"
#include "WindowSystem.h"
#include "Wnd.h"

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (pDX->m_bSaveAndValidate || control.GetSafeHwnd() != nullptr) {
        return;
    }
    HWND item = pDX->m_pDlgWnd->GetDlgItem(id);
    if (item == nullptr) {
        return;
    }
    control.Attach(item);
    auto& bound = pDX->m_pDlgWnd->m_boundControls;
    if (std::find(bound.begin(), bound.end(), &control) == bound.end()) {
        bound.push_back(&control);
    }
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
    HWND box = pDX->m_pDlgWnd->GetDlgItem(id);
    if (box == nullptr) {
        return;
    }
    if (pDX->m_bSaveAndValidate) {
        value = AfxGetWindowSystem().GetCheck(box);
    } else {
        AfxGetWindowSystem().SetCheck(box, value);
    }
}
