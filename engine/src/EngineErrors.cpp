#include "EngineErrors.h"

#include <algorithm>

#include "MovieTable.h"

namespace quillory {

void ThrowDataError(const std::string& text) {
    throw CMException(kDataErrorCaption, text);
}

void ThrowStoreError(const std::string& text) {
    throw CMException(kStoreErrorCaption, text);
}

void ThrowModelError(const std::string& text) {
    throw CMException(kModelErrorCaption, text);
}

void ThrowUsageError(const std::string& text) {
    throw CMException(kUsageErrorCaption, text);
}

void ThrowNobodyLoggedIn() {
    throw CMException(kUsageErrorCaption, kNobodyLoggedInText);
}

std::string QuoteExcerpt(std::string_view text, std::size_t limit) {
    std::string out = "\"";
    const std::size_t n = std::min(text.size(), limit);
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        out += (c < 0x20 || c >= 0x7F) ? '?' : static_cast<char>(c);
    }
    if (text.size() > limit) {
        out += "...";
    }
    out += '"';
    return out;
}

} // namespace quillory
