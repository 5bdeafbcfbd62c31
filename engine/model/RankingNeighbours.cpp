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

} // namespace

void CRankingModel::Impl::BuildNeighbours(const IRatedRows& rows, const std::vector<std::uint32_t>& length,
                                          const std::vector<std::uint32_t>& likedAll, unsigned threadCount) {
    const std::uint64_t cap = ListCap(length, likedAll, settings.workLimit);
    // A user's kept ratings: beyond the cap a random sample, the same for the same seed; his liked ones first.
    // The rows are read twice, once to count and once to place, rather than copied: on large data a copy of them
    // all, grouped, was the largest thing training held.
    std::vector<std::pair<std::uint32_t, float>> row;
    const auto keptRow = [&](std::uint32_t u, std::uint32_t& kept, std::uint32_t& front) {
        rows.Row(u, row);
        const std::uint64_t count = row.size();
        if (count > cap) {
            CRandom random(settings.seed ^ (std::uint64_t(u) * 0x9e3779b97f4a7c15ULL));
            for (std::uint64_t k = 0; k < cap; ++k) {
                const std::uint64_t pick = k + random.Next() % (count - k);
                std::swap(row[k], row[pick]);
            }
        }
        kept = static_cast<std::uint32_t>(std::min(count, cap));
        front = 0;
        for (std::uint32_t k = 0; k < kept; ++k) {
            if (row[k].second >= 4.0F) {
                std::swap(row[k], row[front]);
                ++front;
            }
        }
    };
    // Per user, how many liked items he keeps, and the weight of one step from him; per item, its kept raters.
    std::vector<std::uint64_t> likedStart(std::size_t(numUsers) + 1, 0);
    std::vector<float> userStep(numUsers, 0.0F);
    std::vector<std::uint64_t> itemStart(std::size_t(numItems) + 1, 0);
    for (std::uint32_t u = 0; u < rows.Users(); ++u) {
        std::uint32_t kept = 0, front = 0;
        keptRow(u, kept, front);
        for (std::uint32_t k = 0; k < kept; ++k) {
            ++itemStart[row[k].first + 1];
        }
        likedStart[u + 1] = front;
        userStep[u] = kept ? static_cast<float>(std::pow(double(kept), -settings.alpha)) : 0.0F;
    }
    std::partial_sum(likedStart.begin(), likedStart.end(), likedStart.begin());
    std::partial_sum(itemStart.begin(), itemStart.end(), itemStart.begin());
    // Raters by item, with the weight of the rating as a source; each user's kept liked items.
    std::vector<std::uint32_t> rater(itemStart.back());
    std::vector<float> raterWeight(itemStart.back());
    std::vector<std::uint32_t> liked(likedStart.back());
    {
        std::vector<std::uint64_t> next(itemStart.begin(), itemStart.end() - 1);
        for (std::uint32_t u = 0; u < rows.Users(); ++u) {
            std::uint32_t kept = 0, front = 0;
            keptRow(u, kept, front);
            if (front != likedStart[u + 1] - likedStart[u]) {
                throw std::invalid_argument("a row of ratings changed while it was read");
            }
            for (std::uint32_t k = 0; k < kept; ++k) {
                const std::uint32_t item = row[k].first;
                if (item >= numItems || next[item] == itemStart[item + 1]) {
                    throw std::invalid_argument("a row of ratings changed while it was read");
                }
                const std::uint64_t at = next[item]++;
                rater[at] = u;
                raterWeight[at] = SourceWeight(row[k].second, settings) * userStep[u];
            }
            for (std::uint32_t k = 0; k < front; ++k) {
                liked[likedStart[u] + k] = row[k].first;
            }
        }
    }
    std::vector<std::pair<std::uint32_t, float>>().swap(row);
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
    CThreadPool threads(threadCount > 0 ? threadCount : TrainingThreads());
    struct Workspace {
        std::vector<float> sum;
        std::vector<char> seen;
        std::vector<std::uint32_t> touched;
        std::vector<std::uint64_t> ranked; // see LinkKey
    };
    std::vector<Workspace> spaces(threads.Threads());
    threads.Run(chunks, [&](std::size_t chunk, unsigned thread) {
        Workspace& w = spaces[thread];
        w.sum.resize(numItems, 0.0F);
        w.seen.resize(numItems, 0);
        // Each item is touched at most once per item walked from, and the walk writes one entry past those kept.
        w.touched.resize(std::size_t(numItems) + 1);
        // Plain pointers held in registers: through the vectors, every store to `seen` (a char, which may alias
        // anything) made the compiler load the vectors' pointers again for the next rating.
        float* const sum = w.sum.data();
        char* const seen = w.seen.data();
        std::uint32_t* const touched = w.touched.data();
        const std::uint32_t* const likedItems = liked.data();
        const std::uint64_t* const likedAt = likedStart.data();
        const auto begin = static_cast<std::uint32_t>(chunk * kItemsPerChunk);
        const auto end = static_cast<std::uint32_t>(std::min<std::size_t>(numItems, begin + kItemsPerChunk));
        for (std::uint32_t i = begin; i < end; ++i) {
            std::size_t touchedCount = 0;
            const std::uint64_t firstRater = itemStart[i];
            const std::uint64_t lastRater = itemStart[i + 1];
            for (std::uint64_t k = firstRater; k < lastRater; ++k) {
                // The raters' lists lie all over memory, each a few cache lines: ask for where a list starts a few
                // raters ahead, and for the list itself once that start has had time to arrive.
                if (k + kStartAhead < lastRater) {
                    __builtin_prefetch(likedAt + rater[k + kStartAhead]);
                }
                if (k + kListAhead < lastRater) {
                    // Its first lines: past them, reading it in order has the processor fetch the rest.
                    const std::uint32_t ahead = rater[k + kListAhead];
                    const std::uint32_t* list = likedItems + likedAt[ahead];
                    const std::uint64_t length =
                        std::min(likedAt[ahead + 1] - likedAt[ahead], kListLines * kIdsPerLine);
                    for (std::uint64_t at = 0; at < length; at += kIdsPerLine) {
                        __builtin_prefetch(list + at);
                    }
                }
                const std::uint32_t u = rater[k];
                const float step = raterWeight[k];
                const std::uint32_t* items = likedItems + likedAt[u];
                const std::uint64_t count = likedAt[u + 1] - likedAt[u];
                for (std::uint64_t l = 0; l < count; ++l) {
                    // Without a branch, which the mix of new and seen items made the processor guess wrong
                    // often: the item is written past the touched ones and kept only if it is new.
                    const std::uint32_t j = items[l];
                    touched[touchedCount] = j;
                    touchedCount += seen[j] == 0 ? 1U : 0U;
                    seen[j] = 1;
                    sum[j] += step;
                }
            }
            const std::uint64_t raters = lastRater - firstRater;
            const float itemStep = raters ? static_cast<float>(std::pow(double(raters), -settings.alpha)) : 0.0F;
            w.ranked.clear();
            for (std::size_t t = 0; t < touchedCount; ++t) {
                const std::uint32_t j = touched[t];
                if (j != i && sum[j] > 0.0F) {
                    w.ranked.push_back(LinkKey(sum[j] * itemStep * penalty[j], j));
                }
                sum[j] = 0.0F;
                seen[j] = 0;
            }
            // The strongest `top` picked first, then put in order: the keys are distinct, so either step has one
            // answer, and on long lists the selection costs less than keeping a heap of them.
            const std::size_t top = std::min(keep, w.ranked.size());
            const auto cut = w.ranked.begin() + std::ptrdiff_t(top);
            if (cut != w.ranked.end()) {
                std::nth_element(w.ranked.begin(), cut, w.ranked.end(), std::greater<>());
            }
            std::sort(w.ranked.begin(), cut, std::greater<>());
            linkCount[i] = static_cast<std::uint32_t>(top);
            for (std::size_t k = 0; k < top; ++k) {
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
