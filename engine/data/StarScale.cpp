#include "StarScale.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "NumberFields.h"
#include "QuoteExcerpt.h"
#include "TextFile.h"

namespace quillory::data {

void ParseRating(const CTextFile& file, Layout layout, std::string_view field, RatingRecord& record) {
    switch (layout) {
    case Layout::MovieLens100k: {
        int stars = 0;
        if (!ParseInteger(field, stars) || stars < 1 || stars > 5) {
            file.Fail("expected a rating from 1 to 5, found " + QuoteExcerpt(field) + ".");
        }
        record.stars = stars;
        record.value = static_cast<float>(stars);
        return;
    }
    case Layout::MovieLensCsv: {
        // Half stars 0.5 .. 5.0; a half star rounds up, so 0.5 is one star and 4.5 five.
        double rating = 0.0;
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), rating);
        const double halves = rating * 2.0;
        if (field.empty() || error != std::errc() || end != field.data() + field.size() || !(halves >= 1.0) ||
            halves > 10.0 || halves != std::floor(halves)) {
            file.Fail("expected a rating from 0.5 to 5.0 in half stars, found " + QuoteExcerpt(field) + ".");
        }
        const int half = static_cast<int>(halves);
        record.stars = (half + 1) / 2;
        record.value = static_cast<float>(1.0 + (rating - 0.5) * (4.0 / 4.5));
        return;
    }
    case Layout::MovieTweetings: {
        // 0 .. 10: half the value rounded up, at least one star.
        int rating = 0;
        if (!ParseInteger(field, rating) || rating < 0 || rating > 10) {
            file.Fail("expected a rating from 0 to 10, found " + QuoteExcerpt(field) + ".");
        }
        record.stars = std::max(1, (rating + 1) / 2);
        record.value = static_cast<float>(1.0 + 0.4 * rating);
        return;
    }
    }
}

} // namespace quillory::data
