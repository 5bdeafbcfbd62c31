#include "CatalogueText.h"

#include <fmt/format.h>

#include "TextFile.h"
#include "Utf8Text.h"

namespace quillory::data {

void CheckCatalogueText(const CTextFile& file, std::string_view text) {
    if (!IsValidUtf8(text)) {
        file.Fail("expected UTF-8 text; the line holds bytes of another encoding.");
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // Titles are mostly printable ASCII and letters: only these bytes can begin a control character.
        if (c >= 0x20 && c != 0x7F && c != 0xC2 && c != 0xE2) {
            continue;
        }
        if (c == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) {
            file.Fail("expected lines to end with LF or CRLF; found a carriage return inside the line.");
        }
        if (const long control = ControlCharacterAt(text, i); control >= 0x80) {
            file.Fail(fmt::format("expected text without control characters; found the character U+{:04X}.", control));
        } else if (control >= 0) {
            file.Fail(fmt::format("expected text without control characters; found the byte 0x{:02X}.", c));
        }
    }
}

} // namespace quillory::data
