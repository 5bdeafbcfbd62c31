// The ranking model: a user's list from the item links his ratings lead to (RankingNeighbours.cpp), a newcomer's
// from the items widely seen and well liked; both filled up from that order where the links run out.

#include "RankingModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <stdexcept>

#include "RankingImpl.h"
#include "RatingRows.h"

namespace quillory::model {

std::string RankingSettings::Describe() const {
    char text[320];
    std::snprintf(text, sizeof text,
                  "rank:min=%zu seed=%llu pool=%zu shrink=%g nblend=%g k=%zu alpha=%g beta=%g low=%g blend=%g "
                  "work=%llu v1",
                  minPersonalRatings, static_cast<unsigned long long>(seed), newcomerPool, newcomerShrink,
                  newcomerBlend, neighbours, alpha, beta, lowWeight, popularityBlend,
                  static_cast<unsigned long long>(workLimit));
    return text;
}

RankingSettings RankingSettings::Defaults() {
    return RankingSettings{};
}

CRankingModel::CRankingModel(RankingSettings settings) : m_impl(std::make_unique<Impl>()) {
    m_impl->settings = settings;
}

CRankingModel::~CRankingModel() = default;
CRankingModel::CRankingModel(CRankingModel&&) noexcept = default;
CRankingModel& CRankingModel::operator=(CRankingModel&&) noexcept = default;

const RankingSettings& CRankingModel::Settings() const {
    return m_impl->settings;
}

void CRankingModel::Impl::BuildOrder(const RankingSettings& s) {
    allLiked = 0;
    for (std::uint32_t j = 0; j < numItems; ++j) {
        allLiked += liked[j];
    }
    const double share = numRatings ? double(allLiked) / double(numRatings) : 0.0;
    auto likedShare = [&](std::uint32_t j) {
        return (liked[j] + s.newcomerShrink * share) / (rated[j] + s.newcomerShrink);
    };
    std::vector<std::uint32_t> byRated(numItems);
    std::iota(byRated.begin(), byRated.end(), 0U);
    std::stable_sort(byRated.begin(), byRated.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return rated[a] > rated[b]; });
    std::vector<char> inPool(numItems, 0);
    order.clear();
    for (std::size_t k = 0; k < std::min<std::size_t>(s.newcomerPool, numItems); ++k) {
        const std::uint32_t j = byRated[k];
        if (rated[j] > 0 && likedShare(j) >= share) {
            order.push_back(j);
            inPool[j] = 1;
        }
    }
    pool = static_cast<std::uint32_t>(order.size());
    auto better = [&](std::uint32_t a, std::uint32_t b) { return liked[a] != liked[b] ? liked[a] > liked[b] : a < b; };
    std::sort(order.begin(), order.end(), better);
    std::vector<std::uint32_t> rest;
    for (std::uint32_t j = 0; j < numItems; ++j) {
        if (!inPool[j]) {
            rest.push_back(j);
        }
    }
    std::sort(rest.begin(), rest.end(), better);
    order.insert(order.end(), rest.begin(), rest.end());
}

void CRankingModel::Train(std::span<const Rating> ratings, std::uint32_t numUsers, std::uint32_t numItems) {
    for (const Rating& r : ratings) {
        if (r.user >= numUsers || r.item >= numItems) {
            throw std::invalid_argument("rating outside the trained range");
        }
    }
    const Rows byUser = GroupRatings(ratings, numUsers, true);
    Train(CRowsByUser(byUser), numUsers, numItems);
}

void CRankingModel::Train(const IRatedRows& rows, std::uint32_t numUsers, std::uint32_t numItems, unsigned threads) {
    if (rows.Users() > numUsers) {
        throw std::invalid_argument("rating outside the trained range");
    }
    Impl trained;
    trained.settings = m_impl->settings;
    trained.numUsers = numUsers;
    trained.numItems = numItems;
    trained.rated.assign(numItems, 0);
    trained.liked.assign(numItems, 0);
    // Per user, his ratings and those of 4 or 5, for the cut of long lists.
    std::vector<std::uint32_t> length(numUsers, 0), likedByUser(numUsers, 0);
    std::vector<std::pair<std::uint32_t, float>> row;
    for (std::uint32_t u = 0; u < rows.Users(); ++u) {
        rows.Row(u, row);
        for (const auto& [item, value] : row) {
            if (item >= numItems) {
                throw std::invalid_argument("rating outside the trained range");
            }
            ++trained.rated[item];
            if (value >= 4.0F) {
                ++trained.liked[item];
                ++likedByUser[u];
            }
        }
        length[u] = static_cast<std::uint32_t>(row.size());
        trained.numRatings += row.size();
    }
    trained.BuildOrder(trained.settings);
    trained.BuildNeighbours(rows, length, likedByUser, threads);
    *m_impl = std::move(trained);
}

std::vector<RankedItem> CRankingModel::Rank(UserRatings rated, std::size_t count) const {
    const Impl& m = *m_impl;
    std::vector<RankedItem> picks;
    if (!m.Trained()) {
        return picks;
    }
    // Per item: the user's score, and the liked item of his that adds most to it.
    std::vector<float> score(m.numItems, 0.0F);
    std::vector<float> best(m.numItems, 0.0F);
    std::vector<std::uint32_t> because(m.numItems, kNoItem);
    std::vector<char> taken(m.numItems, 0);
    std::vector<char> seen(m.numItems, 0);
    std::vector<std::uint32_t> touched;
    for (const auto& [item, value] : rated) {
        taken[item] = 1;
    }
    const bool newcomer = rated.size() < m.settings.minPersonalRatings;
    for (const auto& [item, value] : rated) {
        const float source = SourceWeight(value, m.settings);
        const bool liked = value >= 4.0F;
        for (std::uint64_t k = m.start[item]; k < m.start[item + 1]; ++k) {
            const std::uint32_t j = m.neighbour[k];
            const float add = source * m.weight[k];
            if (!seen[j]) {
                seen[j] = 1;
                touched.push_back(j);
            }
            score[j] += add;
            if (liked && (add > best[j] || (add == best[j] && item < because[j]))) {
                best[j] = add;
                because[j] = item;
            }
        }
    }
    // His scores as shares of their sum, mixed by the blend with each item's share of all ratings of 4 and up:
    // where his ratings lead only weakly, what many liked comes first.
    double sum = 0.0;
    for (std::uint32_t j : touched) {
        sum += taken[j] ? 0.0 : std::max(0.0F, score[j]);
    }
    const double blend = newcomer ? m.settings.newcomerBlend : m.settings.popularityBlend;
    const double own = sum > 0.0 ? (1.0 - blend) / sum : 0.0;
    const double common = blend / double(std::max<std::uint64_t>(1, m.allLiked));
    auto mixed = [&](std::uint32_t j) {
        return static_cast<float>(own * std::max(0.0F, score[j]) + common * m.liked[j]);
    };
    std::vector<std::pair<float, std::uint32_t>> ranked;
    if (newcomer) {
        // Only the newcomers' list, in his own order where his ratings give one; no reasons.
        for (std::uint32_t k = 0; k < m.pool; ++k) {
            const std::uint32_t j = m.order[k];
            if (!taken[j]) {
                ranked.emplace_back(blend > 0.0 ? mixed(j) : score[j], j);
            }
        }
        std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& [value, j] : ranked) {
            if (picks.size() >= count) {
                break;
            }
            if (!taken[j]) {
                picks.push_back({j, value, kNoItem});
                taken[j] = 1;
            }
        }
    } else {
        if (blend > 0.0) {
            for (std::uint32_t j = 0; j < m.numItems; ++j) {
                if (!taken[j]) {
                    ranked.emplace_back(mixed(j), j);
                }
            }
        } else {
            for (std::uint32_t j : touched) {
                if (!taken[j] && score[j] > 0.0F) {
                    ranked.emplace_back(score[j], j);
                }
            }
        }
        const std::size_t top = std::min(count, ranked.size());
        std::partial_sort(
            ranked.begin(), ranked.begin() + std::ptrdiff_t(top), ranked.end(),
            [](const auto& a, const auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
        for (std::size_t k = 0; k < top; ++k) {
            const std::uint32_t j = ranked[k].second;
            picks.push_back({j, ranked[k].first, because[j]});
            taken[j] = 1;
        }
    }
    for (std::uint32_t j : m.order) {
        if (picks.size() >= count) {
            break;
        }
        if (!taken[j]) {
            picks.push_back({j, 0.0F, kNoItem});
            taken[j] = 1; // never one twice, whatever the order holds
        }
    }
    return picks;
}

std::vector<std::uint32_t> CRankingModel::Similar(std::uint32_t item, std::size_t count) const {
    const Impl& m = *m_impl;
    std::vector<std::uint32_t> similar;
    if (!m.Trained() || item >= m.numItems) {
        return similar;
    }
    // A loaded model's lists are checked as it makes them; the call keeps its word even so: never the item itself,
    // never one twice (a list holds at most `neighbours` items, so the look back is short).
    for (std::uint32_t j : m.Neighbours(item)) {
        if (similar.size() >= count) {
            break;
        }
        if (j != item && std::find(similar.begin(), similar.end(), j) == similar.end()) {
            similar.push_back(j);
        }
    }
    return similar;
}

std::string CRankingModel::Summary() const {
    const Impl& m = *m_impl;
    char text[256];
    std::snprintf(text, sizeof text, "ranking: %u items, %zu links (at most %zu an item), newcomers' list of %u",
                  m.numItems, m.neighbour.size(), m.settings.neighbours, m.pool);
    return text;
}

} // namespace quillory::model
