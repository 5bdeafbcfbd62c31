#pragma once

#include <string>
#include <string_view>

namespace quillory::store {

// Text a library or a server wrote (SQLite's and libpq's messages, the server's own, a host or database name read from
// a URI), made fit to stand inside one of our messages: every run of blanks and control characters (TAB, LF and CR
// included, and DEL, C1, U+2028, U+2029) becomes one space, each byte that is not part of well-formed UTF-8 becomes
// '?', and the ends are trimmed. libpq, for one, ends its lines with a newline and indents its hints with a tab.
std::string CleanedText(std::string_view text);

} // namespace quillory::store
