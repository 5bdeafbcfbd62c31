#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "RatingModel.h"

namespace quillory::model {

// Ratings grouped by row (user or item), in input order within a row.
struct Rows {
    std::vector<std::size_t> start; // row r holds entries start[r] .. start[r+1]-1
    std::vector<std::uint32_t> index;
    std::vector<float> value;

    std::size_t Count(std::size_t row) const { return start[row + 1] - start[row]; }
};

// The ratings grouped by user (byUser) or by item.
Rows GroupRatings(std::span<const Rating> ratings, std::uint32_t count, bool byUser);

} // namespace quillory::model
