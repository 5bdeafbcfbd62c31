#pragma once

#include <algorithm>
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

// The ratings a training reads, in order: a span of them, or rows read through IRatedRows, whose k-th rating is
// the k-th of the rows taken user by user. The rows are not copied: on large data a copy of every rating is the
// largest thing a training would otherwise hold beside its grouping.
class CRatingSequence {
public:
    explicit CRatingSequence(std::span<const Rating> ratings) : m_ratings(ratings), m_size(ratings.size()) {}
    explicit CRatingSequence(const IRatedRows& rows);

    std::size_t Size() const { return m_size; }
    // Calls f(k, rating) for the ratings k of [first, last), in order; may run on several threads at once. Throws
    // std::invalid_argument where a row is not as long as its count.
    template <class F> void ForEach(std::size_t first, std::size_t last, F&& f) const {
        last = std::min(last, m_size);
        if (m_rows == nullptr) {
            for (std::size_t k = first; k < last; ++k) {
                f(k, m_ratings[k]);
            }
            return;
        }
        if (first >= last) {
            return;
        }
        // The user whose row holds rating `first`: the last whose row starts at or before it.
        auto user =
            static_cast<std::uint32_t>(std::upper_bound(m_start.begin(), m_start.end(), first) - m_start.begin() - 1);
        std::vector<std::pair<std::uint32_t, float>> row;
        for (std::size_t k = first; k < last; ++user) {
            m_rows->Row(user, row);
            CheckRow(user, row.size());
            for (std::size_t at = k - m_start[user]; at < row.size() && k < last; ++at, ++k) {
                f(k, Rating{user, row[at].first, row[at].second});
            }
        }
    }

private:
    void CheckRow(std::uint32_t user, std::size_t length) const;

    std::span<const Rating> m_ratings;
    const IRatedRows* m_rows = nullptr;
    std::vector<std::uint64_t> m_start; // with rows: where each user's ratings start, and the total last
    std::size_t m_size = 0;
};

// The same ratings grouped both ways, made once for every step that trains on them.
struct GroupedRatings {
    Rows byUser;
    Rows byItem;
};

// The ratings grouped by user (byUser) or by item, over `threads` where given (the result does not depend on
// them). A rating k with skip[k] != 0 is left out; an empty skip leaves out none.
Rows GroupRatings(const CRatingSequence& ratings, std::uint32_t count, bool byUser, CThreadPool* threads = nullptr,
                  std::span<const char> skip = {});
GroupedRatings GroupRatings(const CRatingSequence& ratings, std::span<const char> skip, std::uint32_t users,
                            std::uint32_t items, CThreadPool* threads);
inline Rows GroupRatings(std::span<const Rating> ratings, std::uint32_t count, bool byUser,
                         CThreadPool* threads = nullptr, std::span<const char> skip = {}) {
    return GroupRatings(CRatingSequence(ratings), count, byUser, threads, skip);
}

} // namespace quillory::model
