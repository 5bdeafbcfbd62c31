// The item neighbourhood on the residuals of the core model: what a user thought of the items most like this one,
// beyond what the factors predicted for them, moves the prediction. Also the per-user view every prediction reads.

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>

#include "Random.h"
#include "RatingModelImpl.h"
#include "RatingRows.h"
#include "ThreadPool.h"

namespace quillory::model {

CRatingModel::Impl::UserView CRatingModel::Impl::View(std::uint32_t user) const {
    UserView view;
    if (HasFactors()) {
        view.row = priorUserFactors.data();
        view.bias = priorUserBias;
    }
    if (user < numUsers) {
        view.baseBias = baseUserBias[user];
        if (HasFactors()) {
            view.row = &userFactors[std::size_t(user) * Width()];
            view.bias = userBias[user];
        }
        if (HasNeighbours()) {
            if (auto it = foldedRated.find(user); it != foldedRated.end()) {
                view.items = it->second.items.data();
                view.residuals = it->second.residuals.data();
                view.count = it->second.items.size();
                view.set = it->second.set.bits.empty() ? nullptr : &it->second.set;
            } else {
                view.items = ratedItem.data() + ratedStart[user];
                view.residuals = ratedResidual.data() + ratedStart[user];
                view.count = static_cast<std::size_t>(ratedStart[user + 1] - ratedStart[user]);
                view.set = heavyOf[user] == kNoSet ? nullptr : &heavySets[heavyOf[user]];
            }
        }
    } else if (auto it = extraUsers.find(user); it != extraUsers.end()) {
        view.baseBias = it->second.baseBias;
        if (HasFactors()) {
            view.row = it->second.factors.data();
            view.bias = it->second.bias;
        }
        view.items = it->second.rated.items.data();
        view.residuals = it->second.rated.residuals.data();
        view.count = it->second.rated.items.size();
        view.set = it->second.rated.set.bits.empty() ? nullptr : &it->second.rated.set;
    }
    return view;
}

double CRatingModel::Impl::Core(const UserView& user, std::uint32_t item) const {
    if (!HasFactors()) {
        return double(mean) + user.baseBias + baseItemBias[item];
    }
    const auto width = static_cast<Eigen::Index>(Width());
    const Eigen::Map<const Eigen::VectorXf> u(user.row, width);
    const Eigen::Map<const Eigen::VectorXf> v(&itemFactors[std::size_t(item) * Width()], width);
    return double(mean) + user.bias + itemBias[item] + u.dot(v);
}

double CRatingModel::Impl::NeighbourTerm(const UserView& user, std::uint32_t item) const {
    if (!HasNeighbours() || user.count == 0) {
        return 0.0;
    }
    const std::uint32_t* first = neighbourIndex.data() + neighbourStart[item];
    const std::uint32_t* last = neighbourIndex.data() + neighbourStart[item + 1];
    const float* weights = neighbourWeight.data() + neighbourStart[item];
    double weighted = 0.0, total = 0.0;
    if (user.set) {
        const std::uint64_t* bits = user.set->bits.data();
        const std::uint32_t* ranks = user.set->ranks.data();
        for (const std::uint32_t* n = first; n != last; ++n) {
            const std::uint64_t word = bits[*n >> 6];
            const std::uint64_t below = (std::uint64_t(1) << (*n & 63)) - 1;
            if ((word >> (*n & 63)) & 1) {
                const double w = weights[n - first];
                weighted += w * ResidualOf(user.residuals[ranks[*n >> 6] + std::popcount(word & below)]);
                total += w;
            }
        }
        return weighted / (total + settings.neighbourDamping);
    }
    // Both lists are sorted: walk the shorter one and search the other from where the last search ended.
    if (user.count <= static_cast<std::size_t>(last - first)) {
        const std::uint32_t* at = first;
        for (std::size_t k = 0; k < user.count && at != last; ++k) {
            at = std::lower_bound(at, last, user.items[k]);
            if (at != last && *at == user.items[k]) {
                const double w = weights[at - first];
                weighted += w * ResidualOf(user.residuals[k]);
                total += w;
            }
        }
    } else {
        const std::uint32_t* begin = user.items;
        const std::uint32_t* end = user.items + user.count;
        for (const std::uint32_t* n = first; n != last && begin != end; ++n) {
            begin = std::lower_bound(begin, end, *n);
            if (begin != end && *begin == *n) {
                const double w = weights[n - first];
                weighted += w * ResidualOf(user.residuals[begin - user.items]);
                total += w;
            }
        }
    }
    return weighted / (total + settings.neighbourDamping);
}

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

void CRatingModel::Impl::BuildNeighbours(const Rows& byUser) {
    // Residuals per user, sorted by item.
    neighbourStart.clear();
    FillRatedLists(CRowsByUser(byUser));
    CThreadPool serial(1);
    CThreadPool& pool = threads ? *threads : serial;
    // The users whose co-ratings give the similarities: all of them, or where the co-rating work (a user with n
    // ratings adds n^2) would exceed the limit, a sample drawn in a seeded order whose work is a tenth of it, so
    // that the largest data sets cost less here than those just below the limit.
    std::vector<char> sampled(numUsers, 1);
    {
        std::size_t pairWork = 0;
        for (std::uint32_t u = 0; u < numUsers; ++u) {
            const std::size_t n = byUser.Count(u);
            pairWork += n * n;
        }
        if (pairWork > settings.neighbourLimit) {
            std::vector<std::pair<std::uint64_t, std::uint32_t>> order(numUsers);
            for (std::uint32_t u = 0; u < numUsers; ++u) {
                std::uint64_t state = settings.seed ^ (std::uint64_t(u) << 32 | u);
                order[u] = {SplitMix(state), u};
            }
            std::sort(order.begin(), order.end());
            std::size_t used = 0;
            for (const auto& [key, u] : order) {
                const std::size_t n = byUser.Count(u);
                sampled[u] = static_cast<char>(used + n * n <= settings.neighbourLimit / 10);
                if (sampled[u]) {
                    used += n * n;
                }
            }
        }
    }

    // The raters of each item with their residuals.
    std::vector<std::size_t> itemStart(std::size_t(numItems) + 1, 0);
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        if (sampled[u]) {
            for (std::size_t k = ratedStart[u]; k < ratedStart[u + 1]; ++k) {
                ++itemStart[ratedItem[k] + 1];
            }
        }
    }
    for (std::size_t i = 0; i < numItems; ++i) {
        itemStart[i + 1] += itemStart[i];
    }
    std::vector<std::size_t> fill(itemStart.begin(), itemStart.end() - 1);
    std::vector<std::uint32_t> raterUser(itemStart.back());
    std::vector<float> raterResidual(itemStart.back());
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        for (std::size_t k = ratedStart[u]; sampled[u] && k < ratedStart[u + 1]; ++k) {
            const std::size_t at = fill[ratedItem[k]]++;
            raterUser[at] = u;
            raterResidual[at] = ResidualOf(ratedResidual[k]);
        }
    }

    // Each item's similarity to every item sharing a rater: the cosine of the residuals over the co-raters,
    // shrunk by c / (c + shrink) for c co-raters so that few shared ratings count for little. Every pair is
    // summed once, from the item with the lower index (the raters' lists are sorted, so only the part after it
    // is read), and offered to both items' candidates; a candidate list is cut back to the strongest whenever it
    // grows long, which keeps memory in proportion to the items, not the pairs. Items are taken in chunks over the
    // threads, each with candidate lists of its own, merged afterwards: the strongest of all offers are the same
    // whichever thread saw which offer, since strength is a strict order (similarity, then index).
    using Candidate = std::pair<float, std::uint32_t>;
    const auto keep = static_cast<std::size_t>(std::max(0, settings.neighbours));
    const std::size_t cutAt = 4 * keep + 64;
    const auto stronger = [](const Candidate& a, const Candidate& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    };
    const auto cut = [&](std::vector<Candidate>& list) {
        if (list.size() <= keep) {
            return;
        }
        std::nth_element(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(keep), list.end(), stronger);
        list.resize(keep);
    };
    struct Scratch {
        std::vector<float> sumXy, sumXx, sumYy;
        std::vector<std::uint32_t> count;
        std::vector<std::uint32_t> touched;
        std::vector<std::vector<Candidate>> candidates;
    };
    std::vector<Scratch> scratch(pool.Threads());
    constexpr std::size_t kItemsPerChunk = 16;
    pool.Run((std::size_t(numItems) + kItemsPerChunk - 1) / kItemsPerChunk, [&](std::size_t chunk, unsigned thread) {
        Scratch& own = scratch[thread];
        if (own.count.empty()) {
            own.sumXy.assign(numItems, 0.0f);
            own.sumXx.assign(numItems, 0.0f);
            own.sumYy.assign(numItems, 0.0f);
            own.count.assign(numItems, 0);
            own.candidates.resize(numItems);
        }
        const auto lastItem = static_cast<std::uint32_t>(std::min<std::size_t>(numItems, (chunk + 1) * kItemsPerChunk));
        for (auto i = static_cast<std::uint32_t>(chunk * kItemsPerChunk); i < lastItem; ++i) {
            own.touched.clear();
            for (std::size_t r = itemStart[i]; r < itemStart[i + 1]; ++r) {
                const std::uint32_t u = raterUser[r];
                const float x = raterResidual[r];
                const std::uint32_t* first = ratedItem.data() + ratedStart[u];
                const std::uint32_t* last = ratedItem.data() + ratedStart[u + 1];
                for (const std::uint32_t* at = std::upper_bound(first, last, i); at != last; ++at) {
                    const std::uint32_t j = *at;
                    if (own.count[j] == 0) {
                        own.touched.push_back(j);
                    }
                    const float y = ResidualOf(ratedResidual[static_cast<std::size_t>(at - ratedItem.data())]);
                    own.sumXy[j] += x * y;
                    own.sumXx[j] += x * x;
                    own.sumYy[j] += y * y;
                    ++own.count[j];
                }
            }
            for (const std::uint32_t j : own.touched) {
                const double xy = own.sumXy[j], xx = own.sumXx[j], yy = own.sumYy[j];
                if (xy > 0.0 && xx > 0.0 && yy > 0.0) {
                    const double c = own.count[j];
                    const auto similarity =
                        static_cast<float>(xy / std::sqrt(xx * yy) * c / (c + settings.neighbourShrink));
                    own.candidates[i].emplace_back(similarity, j);
                    own.candidates[j].emplace_back(similarity, i);
                    if (own.candidates[j].size() > cutAt) {
                        cut(own.candidates[j]);
                    }
                }
                own.sumXy[j] = own.sumXx[j] = own.sumYy[j] = 0.0f;
                own.count[j] = 0;
            }
            if (own.candidates[i].size() > cutAt) {
                cut(own.candidates[i]);
            }
        }
    });
    // Each item's offers from every thread, cut to the strongest and put in index order; items in chunks over the
    // threads, each item's list its own, so the lists are the same whichever thread merged them.
    std::vector<std::vector<Candidate>> candidates(numItems);
    pool.Run((std::size_t(numItems) + kItemsPerChunk - 1) / kItemsPerChunk, [&](std::size_t chunk, unsigned) {
        const auto lastItem = static_cast<std::uint32_t>(std::min<std::size_t>(numItems, (chunk + 1) * kItemsPerChunk));
        for (auto i = static_cast<std::uint32_t>(chunk * kItemsPerChunk); i < lastItem; ++i) {
            std::vector<Candidate>& list = candidates[i];
            for (Scratch& own : scratch) {
                if (own.candidates.empty()) {
                    continue;
                }
                list.insert(list.end(), own.candidates[i].begin(), own.candidates[i].end());
                std::vector<Candidate>().swap(own.candidates[i]);
                if (list.size() > cutAt) {
                    cut(list);
                }
            }
            cut(list);
            std::sort(list.begin(), list.end(),
                      [](const Candidate& a, const Candidate& b) { return a.second < b.second; });
        }
    });
    std::vector<std::uint64_t> start(std::size_t(numItems) + 1, 0);
    for (std::uint32_t i = 0; i < numItems; ++i) {
        start[i + 1] = start[i] + candidates[i].size();
    }
    std::vector<std::uint32_t> index(start.back());
    std::vector<float> weight(start.back());
    for (std::uint32_t i = 0; i < numItems; ++i) {
        std::size_t at = start[i];
        for (const auto& [similarity, j] : candidates[i]) {
            index[at] = j;
            weight[at++] = WeightOf(WeightCode(similarity));
        }
        std::vector<Candidate>().swap(candidates[i]);
    }
    neighbourStart = std::move(start);
    neighbourIndex = std::move(index);
    neighbourWeight = std::move(weight);
    IndexHeavyUsers();
}

} // namespace quillory::model
