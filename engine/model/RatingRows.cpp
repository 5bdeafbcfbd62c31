#include "RatingRows.h"

#include "GroupByRow.h"

namespace quillory::model {

Rows GroupRatings(std::span<const Rating> ratings, std::uint32_t count, bool byUser) {
    Rows rows;
    rows.index.resize(ratings.size());
    rows.value.resize(ratings.size());
    rows.start = GroupByRow<std::size_t>(
        ratings.size(), count, [&](std::size_t i) { return byUser ? ratings[i].user : ratings[i].item; },
        [&](std::size_t i, std::size_t at) {
            rows.index[at] = byUser ? ratings[i].item : ratings[i].user;
            rows.value[at] = ratings[i].value;
        });
    return rows;
}

} // namespace quillory::model
