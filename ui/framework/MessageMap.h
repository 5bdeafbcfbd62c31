#pragma once

#include "AfxTypes.h"

class CCmdTarget;

// One entry of a static message map: a window message (WM_COMMAND with a notification code and a control id, or a
// window message matched by message alone) bound to a handler through a small thunk.
struct MessageMapEntry {
    UINT message; // WM_COMMAND, WM_SYSCOMMAND, WM_PAINT, WM_QUERYDRAGICON ...; 0 ends the table
    UINT code;    // notification code, for WM_COMMAND
    int id;       // control or command identifier, for WM_COMMAND
    LRESULT (*handler)(CCmdTarget& target, WPARAM wParam, LPARAM lParam);
};

// A class's message map: its entries, then its base class's map.
struct MessageMap {
    const MessageMap* (*base)();
    const MessageMapEntry* entries;
};

// Declares the message map of a class (inside the class body).
#define DECLARE_MESSAGE_MAP()                                                                                          \
public:                                                                                                                \
    static const MessageMap* GetThisMessageMap();                                                                      \
    const MessageMap* GetMessageMap() const override;                                                                  \
                                                                                                                       \
private:

// Defines the message map of theClass, whose unmatched messages go on to baseClass's map.
#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                                         \
    const MessageMap* theClass::GetMessageMap() const {                                                                \
        return GetThisMessageMap();                                                                                    \
    }                                                                                                                  \
    const MessageMap* theClass::GetThisMessageMap() {                                                                  \
        using ThisClass [[maybe_unused]] = theClass;                                                                   \
        using TheBaseClass = baseClass;                                                                                \
        static const MessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                                                              \
    { 0, 0, 0, nullptr }                                                                                               \
    }                                                                                                                  \
    ;                                                                                                                  \
    static const MessageMap messageMap = {&TheBaseClass::GetThisMessageMap, &entries[0]};                              \
    return &messageMap;                                                                                                \
    }

#define QFW_COMMAND_ENTRY(notifyCode, controlId, memberFxn)                                                            \
    {WM_COMMAND, (notifyCode), (controlId), [](CCmdTarget& target, WPARAM, LPARAM) -> LRESULT {                        \
         static_cast<ThisClass&>(target).memberFxn();                                                                  \
         return 0;                                                                                                     \
     }},

#define ON_COMMAND(controlId, memberFxn) QFW_COMMAND_ENTRY(BN_CLICKED, controlId, memberFxn)
#define ON_BN_CLICKED(controlId, memberFxn) QFW_COMMAND_ENTRY(BN_CLICKED, controlId, memberFxn)
#define ON_EN_CHANGE(controlId, memberFxn) QFW_COMMAND_ENTRY(EN_CHANGE, controlId, memberFxn)
#define ON_LBN_SELCHANGE(controlId, memberFxn) QFW_COMMAND_ENTRY(LBN_SELCHANGE, controlId, memberFxn)
#define ON_LBN_DBLCLK(controlId, memberFxn) QFW_COMMAND_ENTRY(LBN_DBLCLK, controlId, memberFxn)

#define ON_WM_SYSCOMMAND()                                                                                             \
    {WM_SYSCOMMAND, 0, 0, [](CCmdTarget& target, WPARAM wParam, LPARAM lParam) -> LRESULT {                            \
         static_cast<ThisClass&>(target).OnSysCommand(static_cast<UINT>(wParam), lParam);                              \
         return 0;                                                                                                     \
     }},

#define ON_WM_PAINT()                                                                                                  \
    {WM_PAINT, 0, 0, [](CCmdTarget& target, WPARAM, LPARAM) -> LRESULT {                                               \
         static_cast<ThisClass&>(target).OnPaint();                                                                    \
         return 0;                                                                                                     \
     }},

#define ON_WM_QUERYDRAGICON()                                                                                          \
    {WM_QUERYDRAGICON, 0, 0, [](CCmdTarget& target, WPARAM, LPARAM) -> LRESULT {                                       \
         return reinterpret_cast<LRESULT>(static_cast<ThisClass&>(target).OnQueryDragIcon());                          \
     }},
