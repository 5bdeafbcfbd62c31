#include "RatingRows.h"

#include <algorithm>
#include <cstddef>
#include <functional>

#include "ThreadPool.h"

namespace quillory::model {

namespace {

// Ratings per block of the parallel grouping, and the most blocks it makes (each keeps a count per row).
constexpr std::size_t kRatingsPerBlock = std::size_t(1) << 20;
constexpr std::size_t kMaxBlocks = 16;

} // namespace

Rows GroupRatings(std::span<const Rating> ratings, std::uint32_t count, bool byUser, CThreadPool* threads,
                  std::span<const char> skip) {
    // A counting sort in blocks of consecutive ratings: each block counts its rows, then places its ratings after
    // those of the blocks before it, so that every row keeps the input order, as one pass over them would. The
    // blocks depend only on the number of ratings; more than one runs only where there are threads to run them.
    const bool parallel = threads != nullptr && threads->Threads() > 1;
    const std::size_t blocks = parallel ? std::clamp<std::size_t>(ratings.size() / kRatingsPerBlock, 1, kMaxBlocks) : 1;
    const std::size_t perBlock = std::max<std::size_t>(1, (ratings.size() + blocks - 1) / blocks);
    const auto kept = [&](std::size_t i) { return skip.empty() || skip[i] == 0; };
    const auto rowOf = [&](std::size_t i) { return byUser ? ratings[i].user : ratings[i].item; };
    const auto forEachBlock = [&](const std::function<void(std::size_t, std::size_t, std::size_t)>& body) {
        RunOverRows(parallel ? threads : nullptr, blocks, 1, [&](std::size_t first, std::size_t last) {
            for (std::size_t b = first; b < last; ++b) {
                body(b, b * perBlock, std::min(ratings.size(), (b + 1) * perBlock));
            }
        });
    };
    std::vector<std::vector<std::size_t>> next(blocks);
    forEachBlock([&](std::size_t b, std::size_t first, std::size_t last) {
        next[b].assign(count, 0);
        for (std::size_t i = first; i < last; ++i) {
            if (kept(i)) {
                ++next[b][rowOf(i)];
            }
        }
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
        for (std::size_t i = first; i < last; ++i) {
            if (kept(i)) {
                const std::size_t to = next[b][rowOf(i)]++;
                rows.index[to] = byUser ? ratings[i].item : ratings[i].user;
                rows.value[to] = ratings[i].value;
            }
        }
    });
    return rows;
}

GroupedRatings GroupRatings(std::span<const Rating> ratings, std::span<const char> skip, std::uint32_t users,
                            std::uint32_t items, CThreadPool* threads) {
    GroupedRatings grouped;
    grouped.byUser = GroupRatings(ratings, users, true, threads, skip);
    grouped.byItem = GroupRatings(ratings, items, false, threads, skip);
    return grouped;
}

} // namespace quillory::model
