#include "RatingRows.h"

#include <algorithm>

#include "GroupByRow.h"
#include "ThreadPool.h"

namespace quillory::model {

namespace {

// Ratings per block of the parallel grouping, and the most blocks it makes (each keeps a count per row).
constexpr std::size_t kRatingsPerBlock = std::size_t(1) << 20;
constexpr std::size_t kMaxBlocks = 16;

} // namespace

Rows GroupRatings(std::span<const Rating> ratings, std::uint32_t count, bool byUser, CThreadPool* threads) {
    Rows rows;
    rows.index.resize(ratings.size());
    rows.value.resize(ratings.size());
    const auto rowOf = [&](std::size_t i) { return byUser ? ratings[i].user : ratings[i].item; };
    const auto place = [&](std::size_t i, std::size_t at) {
        rows.index[at] = byUser ? ratings[i].item : ratings[i].user;
        rows.value[at] = ratings[i].value;
    };
    const std::size_t blocks = std::min(kMaxBlocks, ratings.size() / kRatingsPerBlock);
    if (threads == nullptr || threads->Threads() == 1 || blocks < 2) {
        rows.start = GroupByRow<std::size_t>(ratings.size(), count, rowOf, place);
        return rows;
    }
    // The counting sort in blocks of consecutive ratings: each block counts its rows, then places its ratings after
    // those of the blocks before it, so that every row keeps the input order, as one pass over them would.
    const std::size_t perBlock = (ratings.size() + blocks - 1) / blocks;
    std::vector<std::vector<std::size_t>> next(blocks);
    threads->Run(blocks, [&](std::size_t b, unsigned) {
        next[b].assign(count, 0);
        const std::size_t last = std::min(ratings.size(), (b + 1) * perBlock);
        for (std::size_t i = b * perBlock; i < last; ++i) {
            ++next[b][rowOf(i)];
        }
    });
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
    threads->Run(blocks, [&](std::size_t b, unsigned) {
        const std::size_t last = std::min(ratings.size(), (b + 1) * perBlock);
        for (std::size_t i = b * perBlock; i < last; ++i) {
            place(i, next[b][rowOf(i)]++);
        }
    });
    return rows;
}

GroupedRatings GroupRatings(std::span<const Rating> ratings, std::uint32_t users, std::uint32_t items,
                            CThreadPool* threads) {
    GroupedRatings grouped;
    grouped.byUser = GroupRatings(ratings, users, true, threads);
    grouped.byItem = GroupRatings(ratings, items, false, threads);
    return grouped;
}

} // namespace quillory::model
