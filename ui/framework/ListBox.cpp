#include "ListBox.h"

#include "WindowSystem.h"

int CListBox::InitStorage(int items, UINT bytes) {
    return m_hWnd != nullptr ? AfxGetWindowSystem().ListInitStorage(m_hWnd, items, static_cast<int>(bytes)) : LB_ERR;
}

int CListBox::InsertString(int position, const CString& text) {
    return m_hWnd != nullptr ? AfxGetWindowSystem().ListInsertString(m_hWnd, position, text) : LB_ERR;
}

int CListBox::AddStrings(const std::vector<CString>& texts) {
    return m_hWnd != nullptr ? AfxGetWindowSystem().ListAddStrings(m_hWnd, texts) : LB_ERR;
}

int CListBox::GetCurSel() const {
    return m_hWnd != nullptr ? AfxGetWindowSystem().ListGetCurSel(m_hWnd) : LB_ERR;
}

int CListBox::SelectString(int startAfter, const CString& prefix) {
    return m_hWnd != nullptr ? AfxGetWindowSystem().ListSelectString(m_hWnd, startAfter, prefix) : LB_ERR;
}

int CListBox::SetCurSel(int position) {
    return m_hWnd != nullptr ? AfxGetWindowSystem().ListSetCurSel(m_hWnd, position) : LB_ERR;
}
