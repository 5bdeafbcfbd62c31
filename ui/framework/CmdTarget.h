#pragma once

#include "AfxTypes.h"
#include "MessageMap.h"

// The root of everything that takes commands: it owns a message map and dispatches to it.
class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;

    static const MessageMap* GetThisMessageMap(); // the empty root map
    virtual const MessageMap* GetMessageMap() const;

    // Looks up (WM_COMMAND, code, id) along the map chain and runs the handler; true when one matched.
    virtual bool OnCmdMsg(UINT code, int id);
    // Looks up a window message along the map chain; true (and the handler's result) when one matched.
    bool DispatchWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
};
