#pragma once

#include <algorithm>
#include <string_view>

#include "RatingRecord.h"

namespace quillory::data {

class CLineErrors;

// The scales the layouts rate on (see docs/data-files.md, "Ratings on other scales").
enum class RatingScale {
    OneToFive, // whole stars 1..5
    HalfStars, // 0.5..5.0 in steps of a half
    ZeroToTen, // whole points 0..10
};

// Reads a rating on `scale` and maps it onto stars 1..5 (never 0) and an unrounded value in [1, 5].
void ParseRating(const CLineErrors& errors, RatingScale scale, std::string_view field, RatingRecord& record);

// The three scales' mappings, shared by ParseRating and the ratings parser's fast line reader so that both give the
// same bits. The rating is already checked against its scale.
inline void SetFiveStars(int stars, RatingRecord& record) {
    record.stars = stars;
    record.value = static_cast<float>(stars);
}

// Half stars 0.5 .. 5.0; a half star rounds up, so 0.5 is one star and 4.5 five.
inline void SetHalfStars(double rating, RatingRecord& record) {
    const int half = static_cast<int>(rating * 2.0);
    record.stars = (half + 1) / 2;
    record.value = static_cast<float>(1.0 + (rating - 0.5) * (4.0 / 4.5));
}

// 0 .. 10: half the value rounded up, at least one star.
inline void SetTenPoints(int rating, RatingRecord& record) {
    record.stars = std::max(1, (rating + 1) / 2);
    record.value = static_cast<float>(1.0 + 0.4 * rating);
}

} // namespace quillory::data
