#include "CmdTarget.h"

namespace {

const MessageMapEntry kRootEntries[] = {{0, 0, 0, nullptr}};
const MessageMap kRootMap = {nullptr, &kRootEntries[0]};

} // namespace

const MessageMap* CCmdTarget::GetThisMessageMap() {
    return &kRootMap;
}

const MessageMap* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

bool CCmdTarget::OnCmdMsg(UINT code, int id) {
    for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base ? map->base() : nullptr) {
        for (const MessageMapEntry* entry = map->entries; entry->message != 0; ++entry) {
            if (entry->message == WM_COMMAND && entry->code == code && entry->id == id) {
                entry->handler(*this, 0, 0);
                return true;
            }
        }
    }
    return false;
}

bool CCmdTarget::DispatchWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_COMMAND || message == 0) {
        return false;
    }
    for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base ? map->base() : nullptr) {
        for (const MessageMapEntry* entry = map->entries; entry->message != 0; ++entry) {
            if (entry->message == message) {
                result = entry->handler(*this, wParam, lParam);
                return true;
            }
        }
    }
    return false;
}
