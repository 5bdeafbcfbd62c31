#include "StarScale.h"

#include <charconv>
#include <cmath>

#include "LineErrors.h"
#include "NumberFields.h"
#include "QuoteExcerpt.h"

namespace quillory::data {

void ParseRating(const CLineErrors& errors, RatingScale scale, std::string_view field, RatingRecord& record) {
    switch (scale) {
    case RatingScale::OneToFive: {
        int stars = 0;
        if (!ParseInteger(field, stars) || stars < 1 || stars > 5) {
            errors.Fail("expected a rating from 1 to 5, found " + QuoteExcerpt(field) + ".");
        }
        SetFiveStars(stars, record);
        return;
    }
    case RatingScale::HalfStars: {
        double rating = 0.0;
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), rating);
        const double halves = rating * 2.0;
        if (field.empty() || error != std::errc() || end != field.data() + field.size() || !(halves >= 1.0) ||
            halves > 10.0 || halves != std::floor(halves)) {
            errors.Fail("expected a rating from 0.5 to 5.0 in half stars, found " + QuoteExcerpt(field) + ".");
        }
        SetHalfStars(rating, record);
        return;
    }
    case RatingScale::ZeroToTen: {
        int rating = 0;
        if (!ParseInteger(field, rating) || rating < 0 || rating > 10) {
            errors.Fail("expected a rating from 0 to 10, found " + QuoteExcerpt(field) + ".");
        }
        SetTenPoints(rating, record);
        return;
    }
    }
}

} // namespace quillory::data
