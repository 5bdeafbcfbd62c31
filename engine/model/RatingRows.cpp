#include "RatingRows.h"

namespace quillory::model {

Rows GroupRatings(std::span<const Rating> ratings, std::uint32_t count, bool byUser) {
    Rows rows;
    rows.start.assign(std::size_t(count) + 1, 0);
    for (const Rating& r : ratings)
        ++rows.start[(byUser ? r.user : r.item) + 1];
    for (std::size_t i = 0; i < count; ++i)
        rows.start[i + 1] += rows.start[i];
    std::vector<std::size_t> fill(rows.start.begin(), rows.start.end() - 1);
    rows.index.resize(ratings.size());
    rows.value.resize(ratings.size());
    for (const Rating& r : ratings) {
        std::size_t at = fill[byUser ? r.user : r.item]++;
        rows.index[at] = byUser ? r.item : r.user;
        rows.value[at] = r.value;
    }
    return rows;
}

} // namespace quillory::model
