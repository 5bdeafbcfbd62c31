#include "CleanedText.h"

#include "Utf8Text.h"

namespace quillory::store {

std::string CleanedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool gap = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8CharacterLength(text, i);
        std::string_view piece = "?";
        if (length == 0) {
            ++i;
        } else if (static_cast<unsigned char>(text[i]) <= ' ' || ControlCharacterAt(text, i) >= 0) {
            // Held back until something follows, so that neither end gets a space.
            gap = !out.empty();
            i += length;
            continue;
        } else {
            piece = text.substr(i, length);
            i += length;
        }
        if (gap) {
            out += ' ';
            gap = false;
        }
        out.append(piece);
    }
    return out;
}

} // namespace quillory::store
