#include "NumberFields.h"

#include <fmt/format.h>

#include "LineErrors.h"
#include "QuoteExcerpt.h"

namespace quillory::data {

int ParseId(const CLineErrors& errors, std::string_view field, const char* what) {
    int id = 0;
    if (!ParseInteger(field, id) || id < 1) {
        errors.Fail(fmt::format("expected the {} as a whole number from 1 to 2147483647, found {}.", what,
                                QuoteExcerpt(field)));
    }
    return id;
}

long long ParseTimestamp(const CLineErrors& errors, std::string_view field) {
    long long timestamp = 0;
    if (!ParseInteger(field, timestamp)) {
        errors.Fail("expected the timestamp as a whole number of seconds, found " + QuoteExcerpt(field) + ".");
    }
    return timestamp;
}

} // namespace quillory::data
