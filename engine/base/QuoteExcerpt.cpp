#include "QuoteExcerpt.h"

#include "Utf8Text.h"

namespace quillory {

std::string QuoteExcerpt(std::string_view text, std::size_t limit) {
    std::string out = "\"";
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = Utf8CharacterLength(text, i);
        const std::size_t taken = length == 0 ? 1 : length;
        if (i + taken > limit) {
            break;
        }
        const bool control = c < 0x20 || ControlCharacterAt(text, i) >= 0;
        if (length == 0 || control) {
            out += '?';
        } else {
            out.append(text.substr(i, length));
        }
        i += taken;
    }
    if (i < text.size()) {
        out += "...";
    }
    out += '"';
    return out;
}

} // namespace quillory
