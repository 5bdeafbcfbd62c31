#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillory {

// `text` in double quotes, made safe to put inside a message about it: at most `limit` bytes of it, cut before a
// character rather than inside one and followed by "..." when cut; its well-formed UTF-8 characters kept as they
// are ("Amélie" stays "Amélie"), while each control character (C0 with TAB, LF and CR, DEL, C1, U+2028, U+2029) and
// each byte that is not part of a well-formed character becomes '?'. The quote is thus valid UTF-8 on one line,
// whatever bytes a broken file held.
std::string QuoteExcerpt(std::string_view text, std::size_t limit = 80);

} // namespace quillory
