#pragma once

#include <cstddef>
#include <string_view>

// What the engine must know of UTF-8 to keep text it shows well-formed and on one line.
namespace quillory {

// The length in bytes (1 to 4) of the well-formed UTF-8 character that begins at byte `i` of `text`; 0 when the
// bytes there are none: a stray continuation byte, an overlong form, a surrogate, a code point above U+10FFFF, or a
// sequence cut short by the end of `text`.
std::size_t Utf8CharacterLength(std::string_view text, std::size_t i);

// True when `text` is well-formed UTF-8 throughout.
bool IsValidUtf8(std::string_view text);

// The control character that begins at byte `i` of the valid UTF-8 `text`, as a code point, or -1 for anything
// else. Control characters are C0 (TAB, LF and CR excepted: callers judge those), DEL, C1 (U+0080 to U+009F) and the
// line and paragraph separators U+2028 and U+2029: each of them breaks or garbles the one line a text is shown on.
long ControlCharacterAt(std::string_view text, std::size_t i);

} // namespace quillory
