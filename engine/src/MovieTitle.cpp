#include "MovieTitle.h"

#include <array>
#include <cstdint>

namespace quillory::data {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the trailing " (YYYY)" of `title`, 0 when there is none.
std::size_t YearSuffixLength(std::string_view title) {
    constexpr std::size_t length = 7; // " (1995)"
    if (title.size() < length + 1) {  // a title of nothing but a year keeps it
        return 0;
    }
    const std::string_view tail = title.substr(title.size() - length);
    if (tail[0] != ' ' || tail[1] != '(' || tail[6] != ')') {
        return 0;
    }
    for (std::size_t i = 2; i < 6; ++i) {
        if (!IsDigit(tail[i])) {
            return 0;
        }
    }
    return length;
}

} // namespace

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::string MovieNameOf(std::string_view title) {
    title = TrimBlanks(title);
    title = TrimBlanks(title.substr(0, title.size() - YearSuffixLength(title)));
    static constexpr std::array<std::string_view, 3> articles = {", The", ", An", ", A"};
    for (const std::string_view article : articles) {
        if (title.size() > article.size() && title.ends_with(article)) {
            std::string name(article.substr(2));
            name += ' ';
            name += TrimBlanks(title.substr(0, title.size() - article.size()));
            return name;
        }
    }
    return std::string(title);
}

std::string YearOf(std::string_view title) {
    title = TrimBlanks(title);
    const std::size_t suffix = YearSuffixLength(title);
    return suffix == 0 ? std::string() : std::string(title.substr(title.size() - 5, 4));
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
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
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            if (i + k >= n) {
                return false;
            }
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

} // namespace quillory::data
