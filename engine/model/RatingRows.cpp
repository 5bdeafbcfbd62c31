#include "RatingRows.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <stdexcept>

#include "ThreadPool.h"

namespace quillory::model {

namespace {

// Ratings per block of the parallel grouping, and the most blocks it makes (each keeps a count per row).
constexpr std::size_t kRatingsPerBlock = std::size_t(1) << 20;
constexpr std::size_t kMaxBlocks = 16;

} // namespace

CRatingSequence::CRatingSequence(const IRatedRows& rows) : m_rows(&rows) {
    m_start.assign(std::size_t(rows.Users()) + 1, 0);
    for (std::uint32_t u = 0; u < rows.Users(); ++u) {
        m_start[u + 1] = m_start[u] + rows.Count(u);
    }
    m_size = m_start.back();
}

void CRatingSequence::CheckRow(std::uint32_t user, std::size_t length) const {
    if (length != m_start[user + 1] - m_start[user]) {
        throw std::invalid_argument("a row of ratings is not as long as its count");
    }
}

Rows GroupRatings(const CRatingSequence& ratings, std::uint32_t count, bool byUser, CThreadPool* threads,
                  std::span<const char> skip) {
    // A counting sort in blocks of consecutive ratings: each block counts its rows, then places its ratings after
    // those of the blocks before it, so that every row keeps the input order, as one pass over them would. The
    // blocks depend only on the number of ratings; more than one runs only where there are threads to run them.
    const bool parallel = threads != nullptr && threads->Threads() > 1;
    const std::size_t blocks = parallel ? std::clamp<std::size_t>(ratings.Size() / kRatingsPerBlock, 1, kMaxBlocks) : 1;
    const std::size_t perBlock = std::max<std::size_t>(1, (ratings.Size() + blocks - 1) / blocks);
    const auto kept = [&](std::size_t i) { return skip.empty() || skip[i] == 0; };
    const auto rowOf = [&](const Rating& r) { return byUser ? r.user : r.item; };
    const auto forEachBlock = [&](const std::function<void(std::size_t, std::size_t, std::size_t)>& body) {
        RunOverRows(parallel ? threads : nullptr, blocks, 1, [&](std::size_t first, std::size_t last) {
            for (std::size_t b = first; b < last; ++b) {
                body(b, b * perBlock, std::min(ratings.Size(), (b + 1) * perBlock));
            }
        });
    };
    std::vector<std::vector<std::size_t>> next(blocks);
    forEachBlock([&](std::size_t b, std::size_t first, std::size_t last) {
        next[b].assign(count, 0);
        ratings.ForEach(first, last, [&](std::size_t i, const Rating& r) {
            if (kept(i)) {
                ++next[b][rowOf(r)];
            }
        });
    });
    Rows rows;
    rows.start.assign(std::size_t(count) + 1, 0);
    std::size_t at = 0;
    for (std::size_t r = 0; r < count; ++r) {
        rows.start[r] = at;
        for (std::size_t b = 0; b < blocks; ++b) {
            const std::size_t n = next[b][r];
            next[b][r] = at;
            at += n;
        }
    }
    rows.start[count] = at;
    rows.index.resize(at);
    rows.value.resize(at);
    forEachBlock([&](std::size_t b, std::size_t first, std::size_t last) {
        ratings.ForEach(first, last, [&](std::size_t i, const Rating& r) {
            if (kept(i)) {
                const std::size_t to = next[b][rowOf(r)]++;
                rows.index[to] = byUser ? r.item : r.user;
                rows.value[to] = r.value;
            }
        });
    });
    return rows;
}

GroupedRatings GroupRatings(const CRatingSequence& ratings, std::span<const char> skip, std::uint32_t users,
                            std::uint32_t items, CThreadPool* threads) {
    GroupedRatings grouped;
    grouped.byUser = GroupRatings(ratings, users, true, threads, skip);
    grouped.byItem = GroupRatings(ratings, items, false, threads, skip);
    return grouped;
}

} // namespace quillory::model
