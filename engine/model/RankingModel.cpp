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
#include "ThreadPool.h"

namespace quillory::model {

std::string RankingSettings::Describe() const {
    char text[400];
    std::snprintf(text, sizeof text,
                  "rank:min=%zu seed=%llu pool=%zu shrink=%g nblend=%g k=%zu alpha=%g beta=%g low=%g blend=%g "
                  "work=%llu f=%zu e=%d fwork=%llu fmin=%zu a0=%g l=%g share=%g v2",
                  minPersonalRatings, static_cast<unsigned long long>(seed), newcomerPool, newcomerShrink,
                  newcomerBlend, neighbours, alpha, beta, lowWeight, popularityBlend,
                  static_cast<unsigned long long>(workLimit), factors, factorEpochs,
                  static_cast<unsigned long long>(factorWork), factorMinRatings, unobserved, factorPenalty, linkShare);
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
    CThreadPool pool(threads > 0 ? threads : TrainingThreads());
    {
        const RankingLists lists = ReadRankingLists(rows, numUsers, numItems, length, likedByUser, trained.settings);
        trained.BuildNeighbours(lists, pool);
        trained.BuildFactors(lists, pool);
    }
    *m_impl = std::move(trained);
}

namespace {

// What a user's ratings add up to through the links: per item his score and the liked item of his that adds most
// to it, and the items his ratings reach.
struct LinkScores {
    std::vector<float> score;
    std::vector<float> best;
    std::vector<std::uint32_t> because;
    std::vector<char> taken; // his rated items, then each item picked
    std::vector<std::uint32_t> touched;
};

LinkScores ScoreLinks(const CRankingModel::Impl& m, UserRatings rated) {
    LinkScores s;
    s.score.assign(m.numItems, 0.0F);
    s.best.assign(m.numItems, 0.0F);
    s.because.assign(m.numItems, kNoItem);
    s.taken.assign(m.numItems, 0);
    std::vector<char> seen(m.numItems, 0);
    for (const auto& [item, value] : rated) {
        s.taken[item] = 1;
    }
    for (const auto& [item, value] : rated) {
        const float source = SourceWeight(value, m.settings);
        const bool liked = value >= 4.0F;
        for (std::uint64_t k = m.start[item]; k < m.start[item + 1]; ++k) {
            const std::uint32_t j = m.neighbour[k];
            const float add = source * m.weight[k];
            if (!seen[j]) {
                seen[j] = 1;
                s.touched.push_back(j);
            }
            s.score[j] += add;
            if (liked && (add > s.best[j] || (add == s.best[j] && item < s.because[j]))) {
                s.best[j] = add;
                s.because[j] = item;
            }
        }
    }
    return s;
}

// Best first, and of equal scores the lower item.
bool Before(const std::pair<float, std::uint32_t>& a, const std::pair<float, std::uint32_t>& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
}

// The first `count` of `ranked` in order.
void TakeBest(std::vector<std::pair<float, std::uint32_t>>& ranked, std::size_t count) {
    const std::size_t top = std::min(count, ranked.size());
    std::partial_sort(ranked.begin(), ranked.begin() + std::ptrdiff_t(top), ranked.end(), Before);
    ranked.resize(top);
}

// A newcomer's list: only the newcomers' list, in his own order where his ratings give one; no reasons.
void NewcomerPicks(const CRankingModel::Impl& m, LinkScores& s, std::size_t count, std::vector<RankedItem>& picks) {
    double sum = 0.0;
    for (std::uint32_t j : s.touched) {
        sum += s.taken[j] ? 0.0 : std::max(0.0F, s.score[j]);
    }
    const double blend = m.settings.newcomerBlend;
    const double own = sum > 0.0 ? (1.0 - blend) / sum : 0.0;
    const double common = blend / double(std::max<std::uint64_t>(1, m.allLiked));
    std::vector<std::pair<float, std::uint32_t>> ranked;
    for (std::uint32_t k = 0; k < m.pool; ++k) {
        const std::uint32_t j = m.order[k];
        if (!s.taken[j]) {
            const auto mixed = static_cast<float>(own * std::max(0.0F, s.score[j]) + common * m.liked[j]);
            ranked.emplace_back(blend > 0.0 ? mixed : s.score[j], j);
        }
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [value, j] : ranked) {
        if (picks.size() >= count) {
            break;
        }
        if (!s.taken[j]) { // a loaded order may name an item twice
            picks.push_back({j, value, kNoItem});
            s.taken[j] = 1;
        }
    }
}

// A personal list from the links alone: his scores, as shares of their sum, mixed by the popularity blend with
// each item's share of all ratings of 4 and up.
void LinkPicks(const CRankingModel::Impl& m, LinkScores& s, std::size_t count, std::vector<RankedItem>& picks) {
    const double blend = m.settings.popularityBlend;
    std::vector<std::pair<float, std::uint32_t>> ranked;
    if (blend > 0.0) {
        double sum = 0.0;
        for (std::uint32_t j : s.touched) {
            sum += s.taken[j] ? 0.0 : std::max(0.0F, s.score[j]);
        }
        const double own = sum > 0.0 ? (1.0 - blend) / sum : 0.0;
        const double common = blend / double(std::max<std::uint64_t>(1, m.allLiked));
        for (std::uint32_t j = 0; j < m.numItems; ++j) {
            if (!s.taken[j]) {
                ranked.emplace_back(static_cast<float>(own * std::max(0.0F, s.score[j]) + common * m.liked[j]), j);
            }
        }
    } else {
        for (std::uint32_t j : s.touched) {
            if (!s.taken[j] && s.score[j] > 0.0F) {
                ranked.emplace_back(s.score[j], j);
            }
        }
    }
    TakeBest(ranked, count);
    for (const auto& [value, j] : ranked) {
        picks.push_back({j, value, s.because[j]});
        s.taken[j] = 1;
    }
}

// A personal list from the factors and the links: each item's factor score (his solved factors against the item's)
// and link score, each scaled by its largest over his candidates, mixed by the link share. A pick's reason is the
// liked item of his that adds most to its mixed score: through the factors, item i adds h_j' A^-1 h_i to item j's
// score (A his solve's matrix), and through the links, the strongest link's weight.
void FactorPicks(const CRankingModel::Impl& m, UserRatings rated, LinkScores& s, std::size_t count,
                 std::vector<RankedItem>& picks) {
    const RankingSettings& settings = m.settings;
    const std::uint32_t numItems = m.numItems;
    const CUserTaste taste(m, rated);
    std::vector<float> own;
    taste.Scores(own);
    float factorTop = 0.0F, linkTop = 0.0F;
    for (std::uint32_t j = 0; j < numItems; ++j) {
        if (!s.taken[j]) {
            factorTop = std::max(factorTop, own[j]);
            linkTop = std::max(linkTop, s.score[j]);
        }
    }
    const float factorScale = factorTop > 0.0F ? static_cast<float>(1.0 - settings.linkShare) / factorTop : 0.0F;
    const float linkScale = linkTop > 0.0F ? static_cast<float>(settings.linkShare) / linkTop : 0.0F;
    const auto common = static_cast<float>(settings.popularityBlend / double(std::max<std::uint64_t>(1, m.allLiked)));
    const auto mine = static_cast<float>(1.0 - settings.popularityBlend);
    std::vector<std::pair<float, std::uint32_t>> ranked;
    ranked.reserve(numItems);
    for (std::uint32_t j = 0; j < numItems; ++j) {
        if (!s.taken[j]) {
            const float mixed = factorScale * own[j] + linkScale * std::max(0.0F, s.score[j]);
            ranked.emplace_back(mine * mixed + common * float(m.liked[j]), j);
        }
    }
    TakeBest(ranked, count);
    for (const auto& [value, j] : ranked) {
        std::uint32_t because = kNoItem;
        float strongest = 0.0F;
        for (const auto& [item, share] : taste.LikedShares(rated, j)) {
            const float add = factorScale * share + (item == s.because[j] ? linkScale * s.best[j] : 0.0F);
            if (add > strongest || (add == strongest && because != kNoItem && item < because)) {
                strongest = add;
                because = item;
            }
        }
        picks.push_back({j, value, because});
        s.taken[j] = 1;
    }
}

} // namespace

std::vector<RankedItem> CRankingModel::Rank(UserRatings rated, std::size_t count) const {
    const Impl& m = *m_impl;
    std::vector<RankedItem> picks;
    if (!m.Trained()) {
        return picks;
    }
    LinkScores s = ScoreLinks(m, rated);
    if (rated.size() < m.settings.minPersonalRatings) {
        NewcomerPicks(m, s, count, picks);
    } else if (m.HasFactors()) {
        FactorPicks(m, rated, s, count, picks);
    } else {
        LinkPicks(m, s, count, picks);
    }
    // Filled up from the order where the lists run short.
    for (std::uint32_t j : m.order) {
        if (picks.size() >= count) {
            break;
        }
        if (!s.taken[j]) {
            picks.push_back({j, 0.0F, kNoItem});
            s.taken[j] = 1; // never one twice, whatever the order holds
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
