#pragma once

#include <vector>

#include "AfxTypes.h"
#include "CString.h"
#include "Wnd.h"

// A list box bound to a control.
class CListBox : public CWnd {
public:
    int InitStorage(int items, UINT bytes);
    int InsertString(int position, const CString& text);
    // Appends every text in one call; the number of items then in the list.
    int AddStrings(const std::vector<CString>& texts);
    int GetCurSel() const;
    // Selects a position and scrolls it into view, as the program's own act: no selection-change notification.
    int SetCurSel(int position);
    int SelectString(int startAfter, const CString& prefix);
};
