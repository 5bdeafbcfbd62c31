#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillory::store {

// The most characters (code points) an account name may have, blanks included, and its comparison key as well.
// Both stores index the name and the key; 256 characters of at most 4 bytes each stay well below the largest entry
// a server's index takes (about 2,700 bytes), so both stores accept and refuse the same names.
inline constexpr std::size_t kMaxAccountNameCharacters = 256;

// The form in which account names are compared, for registration and login alike: Unicode NFC with the blanks at
// both ends removed, so that " alice", "alice " and a decomposed "é" are the names they look like.
// std::nullopt for a name no new account may take: not UTF-8, empty once trimmed, holding a control character
// (C0, DEL, C1, the line and paragraph separators), which every display would show like another name, or longer
// than kMaxAccountNameCharacters as written or once composed.
std::optional<std::string> AccountNameKey(std::string_view name);

} // namespace quillory::store
