// The ranking model's item links, a random walk of three steps with a popularity penalty: from an item to the users
// who rated it, from each of them to the items he rated 4 or 5, each step split evenly (to the power alpha) over where
// it can go, and the weight arriving at an item divided by its rating count to the power beta. A user's score of an
// item is then the sum of the links into it from the items he rated, liked ones counting fully.

#include <algorithm>
#include <cmath>
#include <numeric>

#include "Random.h"
#include "RankingImpl.h"
#include "ThreadPool.h"

namespace quillory::model {

namespace {

constexpr std::size_t kItemsPerChunk = 64;

// Ratings grouped by user: offsets, items and values.
struct ByUser {
    std::vector<std::uint64_t> start;
    std::vector<std::uint32_t> item;
    std::vector<float> value;
};

ByUser GroupByUser(std::span<const Rating> ratings, std::uint32_t users) {
    ByUser by;
    by.start.assign(std::size_t(users) + 1, 0);
    for (const Rating& r : ratings) {
        ++by.start[r.user + 1];
    }
    std::partial_sum(by.start.begin(), by.start.end(), by.start.begin());
    std::vector<std::uint64_t> next(by.start.begin(), by.start.end() - 1);
    by.item.resize(ratings.size());
    by.value.resize(ratings.size());
    for (const Rating& r : ratings) {
        const std::uint64_t at = next[r.user]++;
        by.item[at] = r.item;
        by.value[at] = r.value;
    }
    return by;
}

// The length every user's list is cut to so that the co-rating work stays within `limit`: no cut when it does.
std::uint64_t ListCap(const ByUser& by, std::uint64_t limit) {
    const std::size_t users = by.start.size() - 1;
    std::vector<std::uint64_t> length(users), liked(users);
    std::uint64_t longest = 0;
    for (std::size_t u = 0; u < users; ++u) {
        length[u] = by.start[u + 1] - by.start[u];
        liked[u] = static_cast<std::uint64_t>(std::count_if(by.value.begin() + std::ptrdiff_t(by.start[u]),
                                                            by.value.begin() + std::ptrdiff_t(by.start[u + 1]),
                                                            [](float v) { return v >= 4.0F; }));
        longest = std::max(longest, length[u]);
    }
    auto work = [&](std::uint64_t cap) {
        std::uint64_t total = 0;
        for (std::size_t u = 0; u < users; ++u) {
            total += std::min(length[u], cap) * std::min(liked[u], cap);
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

void CRankingModel::Impl::BuildNeighbours(std::span<const Rating> ratings,
                                          const std::function<void()>& doneWithRatings) {
    ByUser byUser = GroupByUser(ratings, numUsers);
    if (doneWithRatings) {
        doneWithRatings();
    }
    const std::uint64_t cap = ListCap(byUser, settings.workLimit);
    // Users beyond the cap keep a random sample of their ratings, the same for the same seed.
    std::vector<std::uint32_t> kept(numUsers);
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        const std::uint64_t first = byUser.start[u], length = byUser.start[u + 1] - first;
        if (length > cap) {
            CRandom random(settings.seed ^ (std::uint64_t(u) * 0x9e3779b97f4a7c15ULL));
            for (std::uint64_t k = 0; k < cap; ++k) {
                const std::uint64_t pick = k + random.Next() % (length - k);
                std::swap(byUser.item[first + k], byUser.item[first + pick]);
                std::swap(byUser.value[first + k], byUser.value[first + pick]);
            }
        }
        kept[u] = static_cast<std::uint32_t>(std::min(length, cap));
    }
    // Per user, his kept liked items first, and the weight of one step from him.
    std::vector<std::uint32_t> likedCount(numUsers, 0);
    std::vector<float> userStep(numUsers, 0.0F);
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        const std::uint64_t first = byUser.start[u];
        std::uint32_t front = 0;
        for (std::uint32_t k = 0; k < kept[u]; ++k) {
            if (byUser.value[first + k] >= 4.0F) {
                std::swap(byUser.item[first + k], byUser.item[first + front]);
                std::swap(byUser.value[first + k], byUser.value[first + front]);
                ++front;
            }
        }
        likedCount[u] = front;
        userStep[u] = kept[u] ? static_cast<float>(std::pow(double(kept[u]), -settings.alpha)) : 0.0F;
    }
    // Raters by item, with the weight of the rating as a source.
    std::vector<std::uint64_t> itemStart(std::size_t(numItems) + 1, 0);
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        for (std::uint32_t k = 0; k < kept[u]; ++k) {
            ++itemStart[byUser.item[byUser.start[u] + k] + 1];
        }
    }
    std::partial_sum(itemStart.begin(), itemStart.end(), itemStart.begin());
    std::vector<std::uint32_t> rater(itemStart.back());
    std::vector<float> raterWeight(itemStart.back());
    {
        std::vector<std::uint64_t> next(itemStart.begin(), itemStart.end() - 1);
        for (std::uint32_t u = 0; u < numUsers; ++u) {
            for (std::uint32_t k = 0; k < kept[u]; ++k) {
                const std::uint64_t at = next[byUser.item[byUser.start[u] + k]]++;
                rater[at] = u;
                raterWeight[at] = SourceWeight(byUser.value[byUser.start[u] + k], settings) * userStep[u];
            }
        }
    }
    // From here on only each user's kept liked items are read: they alone are kept, the rest of the grouping given
    // back before the long loop below (on large data it held twice the ratings' items and values).
    std::vector<std::uint64_t> likedStart(std::size_t(numUsers) + 1, 0);
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        likedStart[u + 1] = likedStart[u] + likedCount[u];
    }
    std::vector<std::uint32_t> liked(likedStart.back());
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        std::copy_n(byUser.item.begin() + std::ptrdiff_t(byUser.start[u]), likedCount[u],
                    liked.begin() + std::ptrdiff_t(likedStart[u]));
    }
    byUser = ByUser();
    std::vector<float> penalty(numItems);
    for (std::uint32_t j = 0; j < numItems; ++j) {
        penalty[j] = static_cast<float>(std::pow(std::max(1.0, double(rated[j])), -settings.beta));
    }

    const std::size_t chunks = (numItems + kItemsPerChunk - 1) / kItemsPerChunk;
    std::vector<std::vector<std::uint32_t>> chunkItems(chunks);
    std::vector<std::vector<float>> chunkWeights(chunks);
    std::vector<std::vector<std::uint32_t>> chunkCounts(chunks);
    CThreadPool threads(TrainingThreads());
    struct Workspace {
        std::vector<float> sum;
        std::vector<char> seen;
        std::vector<std::uint32_t> touched;
        std::vector<std::pair<float, std::uint32_t>> ranked;
    };
    std::vector<Workspace> spaces(threads.Threads());
    const std::size_t keep = settings.neighbours;
    threads.Run(chunks, [&](std::size_t chunk, unsigned thread) {
        Workspace& w = spaces[thread];
        w.sum.resize(numItems, 0.0F);
        w.seen.resize(numItems, 0);
        const auto begin = static_cast<std::uint32_t>(chunk * kItemsPerChunk);
        const auto end = static_cast<std::uint32_t>(std::min<std::size_t>(numItems, begin + kItemsPerChunk));
        for (std::uint32_t i = begin; i < end; ++i) {
            w.touched.clear();
            const std::uint64_t raters = itemStart[i + 1] - itemStart[i];
            for (std::uint64_t k = itemStart[i]; k < itemStart[i + 1]; ++k) {
                const std::uint32_t u = rater[k];
                const float step = raterWeight[k];
                const std::uint32_t* items = liked.data() + likedStart[u];
                for (std::uint32_t l = 0; l < likedCount[u]; ++l) {
                    const std::uint32_t j = items[l];
                    if (!w.seen[j]) {
                        w.seen[j] = 1;
                        w.touched.push_back(j);
                    }
                    w.sum[j] += step;
                }
            }
            const float itemStep = raters ? static_cast<float>(std::pow(double(raters), -settings.alpha)) : 0.0F;
            w.ranked.clear();
            for (std::uint32_t j : w.touched) {
                if (j != i && w.sum[j] > 0.0F) {
                    w.ranked.emplace_back(w.sum[j] * itemStep * penalty[j], j);
                }
                w.sum[j] = 0.0F;
                w.seen[j] = 0;
            }
            const std::size_t top = std::min(keep, w.ranked.size());
            auto stronger = [](const auto& a, const auto& b) {
                return a.first != b.first ? a.first > b.first : a.second < b.second;
            };
            std::partial_sort(w.ranked.begin(), w.ranked.begin() + std::ptrdiff_t(top), w.ranked.end(), stronger);
            chunkCounts[chunk].push_back(static_cast<std::uint32_t>(top));
            for (std::size_t k = 0; k < top; ++k) {
                chunkItems[chunk].push_back(w.ranked[k].second);
                chunkWeights[chunk].push_back(w.ranked[k].first);
            }
        }
    });
    start.assign(1, 0);
    neighbour.clear();
    weight.clear();
    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
        for (std::uint32_t n : chunkCounts[chunk]) {
            start.push_back(start.back() + n);
        }
        neighbour.insert(neighbour.end(), chunkItems[chunk].begin(), chunkItems[chunk].end());
        weight.insert(weight.end(), chunkWeights[chunk].begin(), chunkWeights[chunk].end());
    }
}

} // namespace quillory::model
