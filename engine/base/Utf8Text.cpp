#include "Utf8Text.h"

#include <cstdint>

namespace quillory {

std::size_t Utf8CharacterLength(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
        return 1;
    }
    std::size_t extra = 0;
    std::uint32_t code = 0;
    std::uint32_t minimum = 0;
    if ((c & 0xE0) == 0xC0) {
        extra = 1;
        code = c & 0x1F;
        minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
        code = c & 0x0F;
        minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3;
        code = c & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
        if (i + k >= text.size()) {
            return 0;
        }
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return extra + 1;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = Utf8CharacterLength(text, i);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

long ControlCharacterAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0U; };
    const unsigned c = byte(i);
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) {
        return static_cast<long>(c);
    }
    if (c == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) {
        return static_cast<long>(byte(i + 1)); // U+0080..U+009F is C2 80..C2 9F
    }
    if (c == 0xE2 && byte(i + 1) == 0x80 && (byte(i + 2) == 0xA8 || byte(i + 2) == 0xA9)) {
        return 0x2000L + static_cast<long>(byte(i + 2) - 0x80); // U+2028 is E2 80 A8, U+2029 is E2 80 A9
    }
    return -1;
}

} // namespace quillory
