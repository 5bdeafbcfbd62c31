#pragma once

#include "Wnd.h"

// A push button bound to a control.
class CButton : public CWnd {
public:
    int GetCheck() const;
    void SetCheck(int check);
};
