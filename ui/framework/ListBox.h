#pragma once

#include "AfxTypes.h"
#include "CString.h"
#include "Wnd.h"

// A list box bound to a control.
class CListBox : public CWnd {
public:
    int InitStorage(int items, UINT bytes);
    int InsertString(int position, const CString& text);
    int GetCurSel() const;
    int SelectString(int startAfter, const CString& prefix);
};
