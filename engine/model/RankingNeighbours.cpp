// The ranking model's item links, a random walk of three steps with a popularity penalty: from an item to the users
// who rated it, from each of them to the items he rated 4 or 5, each step split evenly (to the power alpha) over where
// it can go, and the weight arriving at an item divided by its rating count to the power beta. A user's score of an
// item is then the sum of the links into it from the items he rated, liked ones counting fully.

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <numeric>
#include <stdexcept>

#include "Random.h"
#include "RankingImpl.h"
#include "ThreadPool.h"

namespace quillory::model {

namespace {

constexpr std::size_t kItemsPerChunk = 64;
// How many raters ahead the walk asks for a rater's list start, and for the list itself.
constexpr std::uint64_t kStartAhead = 8;
constexpr std::uint64_t kListAhead = 4;
constexpr std::uint64_t kIdsPerLine = 64 / sizeof(std::uint32_t);
constexpr std::uint64_t kListLines = 16;

// A link as one integer that orders as links rank: the stronger weight first, and of equal weights the lower
// item. Weights here are positive, and positive floats order as their bits do.
std::uint64_t LinkKey(float weight, std::uint32_t item) {
    return std::uint64_t{std::bit_cast<std::uint32_t>(weight)} << 32 | ~item;
}
std::uint32_t LinkItem(std::uint64_t key) {
    return ~static_cast<std::uint32_t>(key);
}
float LinkWeight(std::uint64_t key) {
    return std::bit_cast<float>(static_cast<std::uint32_t>(key >> 32));
}

// The length every user's list is cut to so that the co-rating work stays within `limit`: no cut when it does.
// `length` and `liked` are each user's ratings and those of 4 or 5.
std::uint64_t ListCap(const std::vector<std::uint32_t>& length, const std::vector<std::uint32_t>& liked,
                      std::uint64_t limit) {
    const std::uint64_t longest = length.empty() ? 0 : *std::max_element(length.begin(), length.end());
    auto work = [&](std::uint64_t cap) {
        std::uint64_t total = 0;
        for (std::size_t u = 0; u < length.size(); ++u) {
            total += std::min<std::uint64_t>(length[u], cap) * std::min<std::uint64_t>(liked[u], cap);
        }
        return total;
    };
    if (work(longest) <= limit) {
        return longest;
    }
    std::uint64_t low = 1, high = longest; // work(low) is taken as fitting; work(high) does not fit
    while (high - low > 1) {
        const std::uint64_t middle = low + (high - low) / 2;
        (work(middle) <= limit ? low : high) = middle;
    }
    return low;
}

// A user's row as training keeps it: beyond the cap a random sample, the same for the same seed; his liked ones
// first. Returns how many it keeps and, in `front`, how many of those are liked.
std::uint32_t KeptRow(const IRatedRows& rows, std::uint32_t u, std::uint64_t cap, std::uint64_t seed,
                      std::vector<std::pair<std::uint32_t, float>>& row, std::uint32_t& front) {
    rows.Row(u, row);
    const std::uint64_t count = row.size();
    if (count > cap) {
        CRandom random(seed ^ (std::uint64_t(u) * 0x9e3779b97f4a7c15ULL));
        for (std::uint64_t k = 0; k < cap; ++k) {
            const std::uint64_t pick = k + random.Next() % (count - k);
            std::swap(row[k], row[pick]);
        }
    }
    const auto kept = static_cast<std::uint32_t>(std::min(count, cap));
    front = 0;
    for (std::uint32_t k = 0; k < kept; ++k) {
        if (row[k].second >= 4.0F) {
            std::swap(row[k], row[front]);
            ++front;
        }
    }
    return kept;
}

// One thread's room for walking from an item.
struct Workspace {
    std::vector<float> sum;
    std::vector<char> seen;
    std::vector<std::uint32_t> touched;
    std::vector<std::uint64_t> ranked; // see LinkKey
};

// Walks from item `i` to every item its raters liked, adding each rater's step into `w.sum`; returns how many
// items it reached, listed at the start of `w.touched`.
std::size_t WalkFrom(std::uint32_t i, const RankingLists& lists, Workspace& w) {
    // Plain pointers held in registers: through the vectors, every store to `seen` (a char, which may alias
    // anything) made the compiler load the vectors' pointers again for the next rating.
    float* const sum = w.sum.data();
    char* const seen = w.seen.data();
    std::uint32_t* const touched = w.touched.data();
    const std::uint32_t* const likedItems = lists.items.data();
    const std::uint64_t* const likedAt = lists.userStart.data();
    const std::uint64_t* const likedEnd = lists.likedEnd.data();
    const std::uint32_t* const rater = lists.rater.data();
    std::size_t touchedCount = 0;
    const std::uint64_t firstRater = lists.itemStart[i];
    const std::uint64_t lastRater = lists.itemStart[i + 1];
    for (std::uint64_t k = firstRater; k < lastRater; ++k) {
        // The raters' lists lie all over memory, each a few cache lines: ask for where a list starts a few raters
        // ahead, and for the list itself once that start has had time to arrive.
        if (k + kStartAhead < lastRater) {
            __builtin_prefetch(likedAt + rater[k + kStartAhead]);
            __builtin_prefetch(likedEnd + rater[k + kStartAhead]);
        }
        if (k + kListAhead < lastRater) {
            // Its first lines: past them, reading it in order has the processor fetch the rest.
            const std::uint32_t ahead = rater[k + kListAhead];
            const std::uint32_t* list = likedItems + likedAt[ahead];
            const std::uint64_t length = std::min(likedEnd[ahead] - likedAt[ahead], kListLines * kIdsPerLine);
            for (std::uint64_t at = 0; at < length; at += kIdsPerLine) {
                __builtin_prefetch(list + at);
            }
        }
        const std::uint32_t u = rater[k];
        const float step = lists.raterWeight[k];
        const std::uint32_t* items = likedItems + likedAt[u];
        const std::uint64_t count = likedEnd[u] - likedAt[u];
        for (std::uint64_t l = 0; l < count; ++l) {
            // Without a branch, which the mix of new and seen items made the processor guess wrong often: the item
            // is written past the touched ones and kept only if it is new.
            const std::uint32_t j = items[l];
            touched[touchedCount] = j;
            touchedCount += seen[j] == 0 ? 1U : 0U;
            seen[j] = 1;
            sum[j] += step;
        }
    }
    return touchedCount;
}

// Turns the sums of a walk from item `i` into its links, clearing the sums, and keeps the strongest `keep` of them
// in `w.ranked`, strongest first. `scale` is the item's own step.
void KeepStrongest(std::uint32_t i, std::size_t touchedCount, float scale, const std::vector<float>& penalty,
                   std::size_t keep, Workspace& w) {
    w.ranked.clear();
    for (std::size_t t = 0; t < touchedCount; ++t) {
        const std::uint32_t j = w.touched[t];
        if (j != i && w.sum[j] > 0.0F) {
            w.ranked.push_back(LinkKey(w.sum[j] * scale * penalty[j], j));
        }
        w.sum[j] = 0.0F;
        w.seen[j] = 0;
    }
    // The strongest `keep` picked first, then put in order: the keys are distinct, so either step has one answer,
    // and on long lists the selection costs less than keeping a heap of them.
    const std::size_t top = std::min(keep, w.ranked.size());
    const auto cut = w.ranked.begin() + std::ptrdiff_t(top);
    if (cut != w.ranked.end()) {
        std::nth_element(w.ranked.begin(), cut, w.ranked.end(), std::greater<>());
    }
    std::sort(w.ranked.begin(), cut, std::greater<>());
    w.ranked.resize(top);
}

} // namespace

RankingLists ReadRankingLists(const IRatedRows& rows, std::uint32_t numUsers, std::uint32_t numItems,
                              const std::vector<std::uint32_t>& length, const std::vector<std::uint32_t>& liked,
                              const RankingSettings& settings) {
    const std::uint64_t cap = ListCap(length, liked, settings.workLimit);
    // The rows are read twice, once to count and once to place, rather than copied: on large data a copy of them
    // all, grouped, was the largest thing training held.
    RankingLists lists;
    std::vector<std::pair<std::uint32_t, float>> row;
    std::vector<std::uint32_t> likedCount(numUsers, 0);
    std::vector<float> userStep(numUsers, 0.0F);
    lists.userStart.assign(std::size_t(numUsers) + 1, 0);
    lists.itemStart.assign(std::size_t(numItems) + 1, 0);
    for (std::uint32_t u = 0; u < rows.Users(); ++u) {
        std::uint32_t front = 0;
        const std::uint32_t kept = KeptRow(rows, u, cap, settings.seed, row, front);
        for (std::uint32_t k = 0; k < kept; ++k) {
            ++lists.itemStart[row[k].first + 1];
        }
        lists.userStart[u + 1] = kept;
        likedCount[u] = front;
        userStep[u] = kept ? static_cast<float>(std::pow(double(kept), -settings.alpha)) : 0.0F;
    }
    std::partial_sum(lists.userStart.begin(), lists.userStart.end(), lists.userStart.begin());
    std::partial_sum(lists.itemStart.begin(), lists.itemStart.end(), lists.itemStart.begin());
    lists.rater.resize(lists.itemStart.back());
    lists.raterWeight.resize(lists.itemStart.back());
    lists.items.resize(lists.userStart.back());
    lists.likedEnd.assign(numUsers, 0);
    std::vector<std::uint64_t> next(lists.itemStart.begin(), lists.itemStart.end() - 1);
    for (std::uint32_t u = 0; u < rows.Users(); ++u) {
        std::uint32_t front = 0;
        const std::uint32_t kept = KeptRow(rows, u, cap, settings.seed, row, front);
        if (front != likedCount[u] || kept != lists.userStart[u + 1] - lists.userStart[u]) {
            throw std::invalid_argument("a row of ratings changed while it was read");
        }
        for (std::uint32_t k = 0; k < kept; ++k) {
            const std::uint32_t item = row[k].first;
            if (item >= numItems || next[item] == lists.itemStart[item + 1]) {
                throw std::invalid_argument("a row of ratings changed while it was read");
            }
            const std::uint64_t at = next[item]++;
            lists.rater[at] = u;
            lists.raterWeight[at] = SourceWeight(row[k].second, settings) * userStep[u];
            lists.items[lists.userStart[u] + k] = item;
        }
        lists.likedEnd[u] = lists.userStart[u] + front;
    }
    for (std::uint32_t u = rows.Users(); u < numUsers; ++u) {
        lists.likedEnd[u] = lists.userStart[u];
    }
    return lists;
}

void CRankingModel::Impl::BuildNeighbours(const RankingLists& lists, CThreadPool& threads) {
    std::vector<float> penalty(numItems);
    for (std::uint32_t j = 0; j < numItems; ++j) {
        penalty[j] = static_cast<float>(std::pow(std::max(1.0, double(rated[j])), -settings.beta));
    }
    const std::size_t chunks = (numItems + kItemsPerChunk - 1) / kItemsPerChunk;
    // Each item's links are written straight into a slot of `keep` links of its own, and the slots closed up
    // afterwards: the links are never held twice (gathered per chunk and then copied, they were, for a moment).
    const std::size_t keep = std::min<std::size_t>(settings.neighbours, numItems > 0 ? numItems - 1 : 0);
    std::vector<std::uint32_t>(std::size_t(numItems) * keep).swap(neighbour);
    std::vector<float>(std::size_t(numItems) * keep).swap(weight);
    std::vector<std::uint32_t> linkCount(numItems, 0);
    std::vector<Workspace> spaces(threads.Threads());
    threads.Run(chunks, [&](std::size_t chunk, unsigned thread) {
        Workspace& w = spaces[thread];
        w.sum.resize(numItems, 0.0F);
        w.seen.resize(numItems, 0);
        // Each item is touched at most once per item walked from, and the walk writes one entry past those kept.
        w.touched.resize(std::size_t(numItems) + 1);
        const auto begin = static_cast<std::uint32_t>(chunk * kItemsPerChunk);
        const auto end = static_cast<std::uint32_t>(std::min<std::size_t>(numItems, begin + kItemsPerChunk));
        for (std::uint32_t i = begin; i < end; ++i) {
            const std::size_t touchedCount = WalkFrom(i, lists, w);
            const std::uint64_t raters = lists.itemStart[i + 1] - lists.itemStart[i];
            const float itemStep = raters ? static_cast<float>(std::pow(double(raters), -settings.alpha)) : 0.0F;
            KeepStrongest(i, touchedCount, itemStep, penalty, keep, w);
            linkCount[i] = static_cast<std::uint32_t>(w.ranked.size());
            for (std::size_t k = 0; k < w.ranked.size(); ++k) {
                neighbour[i * keep + k] = LinkItem(w.ranked[k]);
                weight[i * keep + k] = LinkWeight(w.ranked[k]);
            }
        }
    });
    start.assign(std::size_t(numItems) + 1, 0);
    for (std::uint32_t i = 0; i < numItems; ++i) {
        // Closing up moves links only towards the front, so what is moved is never overwritten first.
        const std::size_t from = i * keep;
        if (start[i] != from) {
            std::copy_n(neighbour.begin() + std::ptrdiff_t(from), linkCount[i],
                        neighbour.begin() + std::ptrdiff_t(start[i]));
            std::copy_n(weight.begin() + std::ptrdiff_t(from), linkCount[i], weight.begin() + std::ptrdiff_t(start[i]));
        }
        start[i + 1] = start[i] + linkCount[i];
    }
    neighbour.resize(start.back());
    weight.resize(start.back());
    // The model keeps its links for as long as the program runs: where items fell well short of `keep` links (sparse
    // data), the slots' unused room is given back. Where they nearly filled them, the copy that takes would cost
    // more, for a moment, than the room it frees.
    if (start.back() < std::size_t(numItems) * keep / 4 * 3) {
        neighbour.shrink_to_fit();
        weight.shrink_to_fit();
    }
}

} // namespace quillory::model
