#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
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

// IRatedRows over ratings grouped by user.
class CRowsByUser : public IRatedRows {
public:
    explicit CRowsByUser(const Rows& rows) : m_rows(rows) {}
    std::uint32_t Users() const override { return static_cast<std::uint32_t>(m_rows.start.size() - 1); }
    std::size_t Count(std::uint32_t user) const override { return m_rows.Count(user); }
    void Row(std::uint32_t user, std::vector<std::pair<std::uint32_t, float>>& out) const override {
        out.clear();
        for (std::size_t k = m_rows.start[user]; k < m_rows.start[user + 1]; ++k) {
            out.emplace_back(m_rows.index[k], m_rows.value[k]);
        }
    }

private:
    const Rows& m_rows;
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
