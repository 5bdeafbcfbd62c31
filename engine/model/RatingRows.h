#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "RatingModel.h"

namespace quillory::model {

class CThreadPool;

// Ratings grouped by row (user or item), in input order within a row.
struct Rows {
    std::vector<std::size_t> start; // row r holds entries start[r] .. start[r+1]-1
    std::vector<std::uint32_t> index;
    std::vector<float> value;

    std::size_t Count(std::size_t row) const { return start[row + 1] - start[row]; }
};

// The same ratings grouped both ways, made once for every step that trains on them.
struct GroupedRatings {
    Rows byUser;
    Rows byItem;
};

// The ratings grouped by user (byUser) or by item, over `threads` where given (the result does not depend on
// them). A rating k with skip[k] != 0 is left out; an empty skip leaves out none.
Rows GroupRatings(std::span<const Rating> ratings, std::uint32_t count, bool byUser, CThreadPool* threads = nullptr,
                  std::span<const char> skip = {});
GroupedRatings GroupRatings(std::span<const Rating> ratings, std::span<const char> skip, std::uint32_t users,
                            std::uint32_t items, CThreadPool* threads);

} // namespace quillory::model
