#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillory::store {

// The form in which account names are compared, for registration and login alike: Unicode NFC with the blanks at
// both ends removed, so that " alice", "alice " and a decomposed "é" are the names they look like.
// std::nullopt for a name no new account may take: not UTF-8, empty once trimmed, or holding a control character
// (C0, DEL, C1, the line and paragraph separators), which every display would show like another name.
std::optional<std::string> AccountNameKey(std::string_view name);

} // namespace quillory::store
