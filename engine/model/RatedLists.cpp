// The users' rated lists: each user's ratings sorted by item, as residuals of the core prediction, which the
// neighbour term reads; and the item sets that find an item among a heavy rater's ratings in constant time.

#include <algorithm>
#include <atomic>
#include <bit>

#include "RatingModelImpl.h"
#include "RatingRows.h"
#include "ThreadPool.h"

namespace quillory::model {

CRatingModel::Impl::RatedList CRatingModel::Impl::MakeRatedList(std::uint32_t user, UserRatings ratings) const {
    std::vector<std::pair<std::uint32_t, float>> sorted;
    sorted.reserve(ratings.size());
    for (const auto& entry : ratings) {
        if (entry.first < numItems) {
            sorted.push_back(entry);
        }
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // An item rated twice counts once (the first), so that a rank among the items is a position in the list.
    sorted.erase(
        std::unique(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
        sorted.end());
    UserView view = View(user);
    RatedList list;
    list.items.reserve(sorted.size());
    list.residuals.reserve(sorted.size());
    for (const auto& [item, value] : sorted) {
        list.items.push_back(item);
        list.residuals.push_back(ResidualCode(static_cast<float>(value - Core(view, item))));
    }
    if (IsHeavy(list.items.size())) {
        list.set = MakeItemSet(list.items.data(), list.items.size());
    }
    return list;
}

CRatingModel::Impl::ItemSet CRatingModel::Impl::MakeItemSet(const std::uint32_t* items, std::size_t count) const {
    ItemSet set;
    const std::size_t words = (std::size_t(numItems) + 63) / 64;
    set.bits.assign(words, 0);
    set.ranks.assign(words, 0);
    for (std::size_t k = 0; k < count; ++k) {
        set.bits[items[k] >> 6] |= std::uint64_t(1) << (items[k] & 63);
    }
    std::uint32_t before = 0;
    for (std::size_t w = 0; w < words; ++w) {
        set.ranks[w] = before;
        before += static_cast<std::uint32_t>(std::popcount(set.bits[w]));
    }
    return set;
}

void CRatingModel::Impl::IndexHeavyUsers() {
    heavyOf.assign(numUsers, kNoSet);
    heavySets.clear();
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        const auto count = static_cast<std::size_t>(ratedStart[u + 1] - ratedStart[u]);
        if (!IsHeavy(count)) {
            continue;
        }
        heavyOf[u] = static_cast<std::uint32_t>(heavySets.size());
        heavySets.push_back(MakeItemSet(ratedItem.data() + ratedStart[u], count));
    }
}

bool CRatingModel::Impl::FillRatedLists(const IRatedRows& rows, bool haveResiduals) {
    if (rows.Users() > numUsers) {
        return false;
    }
    ratedStart.assign(std::size_t(numUsers) + 1, 0);
    for (std::uint32_t u = 0; u < rows.Users(); ++u) {
        ratedStart[u + 1] = ratedStart[u] + rows.Count(u);
    }
    for (std::uint32_t u = rows.Users(); u < numUsers; ++u) {
        ratedStart[u + 1] = ratedStart[u];
    }
    if (haveResiduals && ratedResidual.size() != ratedStart.back()) {
        return false;
    }
    // Every entry is written below (the residuals too, unless they came with the lists): the old lists are given
    // back first and the new allocated at their size, where growing them kept up to twice their size on large
    // data, and for a moment the old lists beside the new.
    std::vector<std::uint32_t>().swap(ratedItem);
    ratedItem.resize(ratedStart.back());
    if (!haveResiduals) {
        std::vector<std::int16_t>().swap(ratedResidual);
        ratedResidual.resize(ratedStart.back());
    }
    // View() must not read the lists while they are built: without neighbours it reads none.
    std::vector<std::uint64_t> neighbours;
    neighbourStart.swap(neighbours);
    std::atomic<bool> sound{true};
    constexpr std::size_t kUsersPerChunk = 256;
    RunOverRows(threads, rows.Users(), kUsersPerChunk, [&](std::size_t first, std::size_t last) {
        std::vector<std::pair<std::uint32_t, float>> row;
        for (auto u = static_cast<std::uint32_t>(first); u < last; ++u) {
            rows.Row(u, row);
            const std::size_t begin = ratedStart[u];
            if (row.size() != ratedStart[u + 1] - begin ||
                std::any_of(row.begin(), row.end(), [&](const auto& r) { return r.first >= numItems; })) {
                sound = false;
                return;
            }
            const auto byItem = [](const auto& a, const auto& b) { return a.first < b.first; };
            if (!std::is_sorted(row.begin(), row.end(), byItem)) { // the data's rows come sorted
                std::stable_sort(row.begin(), row.end(), byItem);
            }
            if (haveResiduals) {
                for (std::size_t k = 0; k < row.size(); ++k) {
                    ratedItem[begin + k] = row[k].first;
                }
                continue;
            }
            // Core() for each of the user's items, with the user's part taken once.
            const UserView view = View(u);
            const std::size_t width = HasFactors() ? Width() : 0;
            const double userPart = double(mean) + (width > 0 ? view.bias : view.baseBias);
            const std::vector<float>& itemPart = width > 0 ? itemBias : baseItemBias;
            for (std::size_t k = 0; k < row.size(); ++k) {
                const std::uint32_t item = row[k].first;
                const float* factors = width > 0 ? &itemFactors[std::size_t(item) * width] : nullptr;
                float dot = 0.0f;
                for (std::size_t f = 0; f < width; ++f) {
                    dot += view.row[f] * factors[f];
                }
                ratedItem[begin + k] = item;
                ratedResidual[begin + k] =
                    ResidualCode(static_cast<float>(row[k].second - (userPart + itemPart[item] + dot)));
            }
        }
    });
    neighbourStart.swap(neighbours);
    return sound;
}

} // namespace quillory::model
