#include "MovieTitle.h"

#include <array>

#include "TrimBlanks.h"

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

} // namespace quillory::data
