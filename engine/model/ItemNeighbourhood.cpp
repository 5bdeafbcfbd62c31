// The item neighbourhood on the residuals of the core model: each item's most similar items by what their common
// raters thought of them beyond what the core model predicted, so that what a user thought of the items most like
// this one moves the prediction (UserView reads them).

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "Random.h"
#include "RatingModelImpl.h"
#include "RatingRows.h"
#include "ThreadPool.h"

namespace quillory::model {

// The building of the neighbourhood from the users' rated lists, step by step: the users whose co-ratings count,
// each item's raters, every pair's similarity offered to both items, each item's strongest offers kept, and the
// lists packed into the model.
class CRatingModel::Impl::CNeighbourBuild {
public:
    CNeighbourBuild(Impl& model, CThreadPool& pool)
        : m_model(model), m_pool(pool), m_keep(static_cast<std::size_t>(std::max(0, model.settings.neighbours))),
          m_cutAt(4 * m_keep + 64) {}

    // The users whose co-ratings give the similarities: all of them, or where the co-rating work (a user with n
    // ratings adds n^2) would exceed the limit, a sample drawn in a seeded order whose work is a tenth of it, so that
    // the largest data sets cost less here than those just below the limit.
    void SampleCoRaters(const Rows& byUser) {
        const std::uint32_t users = m_model.numUsers;
        const ModelSettings& settings = m_model.settings;
        m_sampled.assign(users, 1);
        std::size_t pairWork = 0;
        for (std::uint32_t u = 0; u < users; ++u) {
            const std::size_t n = byUser.Count(u);
            pairWork += n * n;
        }
        if (pairWork <= settings.neighbourLimit) {
            return;
        }
        std::vector<std::pair<std::uint64_t, std::uint32_t>> order(users);
        for (std::uint32_t u = 0; u < users; ++u) {
            std::uint64_t state = settings.seed ^ (std::uint64_t(u) << 32 | u);
            order[u] = {SplitMix(state), u};
        }
        std::sort(order.begin(), order.end());
        std::size_t used = 0;
        for (const auto& [key, u] : order) {
            const std::size_t n = byUser.Count(u);
            m_sampled[u] = static_cast<char>(used + n * n <= settings.neighbourLimit / 10);
            if (m_sampled[u]) {
                used += n * n;
            }
        }
    }

    // The sampled raters of each item with their residuals.
    void GroupRatersByItem() {
        const Impl& m = m_model;
        m_itemStart.assign(std::size_t(m.numItems) + 1, 0);
        for (std::uint32_t u = 0; u < m.numUsers; ++u) {
            if (m_sampled[u]) {
                for (std::size_t k = m.ratedStart[u]; k < m.ratedStart[u + 1]; ++k) {
                    ++m_itemStart[m.ratedItem[k] + 1];
                }
            }
        }
        for (std::size_t i = 0; i < m.numItems; ++i) {
            m_itemStart[i + 1] += m_itemStart[i];
        }
        std::vector<std::size_t> fill(m_itemStart.begin(), m_itemStart.end() - 1);
        m_raterUser.resize(m_itemStart.back());
        m_raterResidual.resize(m_itemStart.back());
        for (std::uint32_t u = 0; u < m.numUsers; ++u) {
            for (std::size_t k = m.ratedStart[u]; m_sampled[u] && k < m.ratedStart[u + 1]; ++k) {
                const std::size_t at = fill[m.ratedItem[k]]++;
                m_raterUser[at] = u;
                m_raterResidual[at] = ResidualOf(m.ratedResidual[k]);
            }
        }
    }

    // Each item's similarity to every item sharing a rater: the cosine of the residuals over the co-raters, shrunk
    // by c / (c + shrink) for c co-raters so that few shared ratings count for little. Every pair is summed once,
    // from the item with the lower index (the raters' lists are sorted, so only the part after it is read), and
    // offered to both items' candidates; a candidate list is cut back to the strongest whenever it grows long,
    // which keeps memory in proportion to the items, not the pairs. Items are taken in chunks over the threads,
    // each thread with candidate lists of its own.
    void OfferSimilarities() {
        m_scratch.resize(m_pool.Threads());
        m_pool.Run(Chunks(), [&](std::size_t chunk, unsigned thread) {
            Scratch& own = m_scratch[thread];
            if (own.count.empty()) {
                const std::uint32_t items = m_model.numItems;
                own.sumXy.assign(items, 0.0f);
                own.sumXx.assign(items, 0.0f);
                own.sumYy.assign(items, 0.0f);
                own.count.assign(items, 0);
                own.candidates.resize(items);
            }
            const auto [first, last] = ChunkItems(chunk);
            for (std::uint32_t i = first; i < last; ++i) {
                SumCoRatings(i, own);
                OfferPairs(i, own);
            }
        });
    }

    // Each item's offers from every thread, cut to the strongest and put in index order. The strongest of all
    // offers are the same whichever thread saw which offer, since strength is a strict order (similarity, then
    // index); items in chunks over the threads, each item's list its own, so the lists are the same whichever thread
    // merged them.
    void KeepStrongest() {
        m_candidates.resize(m_model.numItems);
        m_pool.Run(Chunks(), [&](std::size_t chunk, unsigned) {
            const auto [first, last] = ChunkItems(chunk);
            for (std::uint32_t i = first; i < last; ++i) {
                std::vector<Candidate>& list = m_candidates[i];
                for (Scratch& own : m_scratch) {
                    if (own.candidates.empty()) {
                        continue;
                    }
                    list.insert(list.end(), own.candidates[i].begin(), own.candidates[i].end());
                    std::vector<Candidate>().swap(own.candidates[i]);
                    if (list.size() > m_cutAt) {
                        Cut(list);
                    }
                }
                Cut(list);
                std::sort(list.begin(), list.end(),
                          [](const Candidate& a, const Candidate& b) { return a.second < b.second; });
            }
        });
    }

    // The kept lists as the model's neighbour lists, each weight at the precision the model cache stores.
    void Pack() {
        const std::uint32_t items = m_model.numItems;
        std::vector<std::uint64_t> start(std::size_t(items) + 1, 0);
        for (std::uint32_t i = 0; i < items; ++i) {
            start[i + 1] = start[i] + m_candidates[i].size();
        }
        std::vector<std::uint32_t> index(start.back());
        std::vector<float> weight(start.back());
        for (std::uint32_t i = 0; i < items; ++i) {
            std::size_t at = start[i];
            for (const auto& [similarity, j] : m_candidates[i]) {
                index[at] = j;
                weight[at++] = WeightOf(WeightCode(similarity));
            }
            std::vector<Candidate>().swap(m_candidates[i]);
        }
        m_model.neighbourStart = std::move(start);
        m_model.neighbourIndex = std::move(index);
        m_model.neighbourWeight = std::move(weight);
    }

private:
    // A similarity offered to an item, and the item it links to.
    using Candidate = std::pair<float, std::uint32_t>;
    // One thread's sums over the co-raters of the item at hand, the items they touched, and its candidate lists.
    struct Scratch {
        std::vector<float> sumXy, sumXx, sumYy;
        std::vector<std::uint32_t> count;
        std::vector<std::uint32_t> touched;
        std::vector<std::vector<Candidate>> candidates;
    };
    static constexpr std::size_t kItemsPerChunk = 16;

    std::size_t Chunks() const { return (std::size_t(m_model.numItems) + kItemsPerChunk - 1) / kItemsPerChunk; }
    std::pair<std::uint32_t, std::uint32_t> ChunkItems(std::size_t chunk) const {
        return {static_cast<std::uint32_t>(chunk * kItemsPerChunk),
                static_cast<std::uint32_t>(std::min<std::size_t>(m_model.numItems, (chunk + 1) * kItemsPerChunk))};
    }

    // Cuts a list back to its `keep` strongest.
    void Cut(std::vector<Candidate>& list) const {
        if (list.size() <= m_keep) {
            return;
        }
        const auto stronger = [](const Candidate& a, const Candidate& b) {
            return a.first != b.first ? a.first > b.first : a.second < b.second;
        };
        std::nth_element(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(m_keep), list.end(), stronger);
        list.resize(m_keep);
    }

    // The sums of item i's residuals against those of every later item its raters rated.
    void SumCoRatings(std::uint32_t i, Scratch& own) const {
        const Impl& m = m_model;
        own.touched.clear();
        for (std::size_t r = m_itemStart[i]; r < m_itemStart[i + 1]; ++r) {
            const std::uint32_t u = m_raterUser[r];
            const float x = m_raterResidual[r];
            const std::uint32_t* first = m.ratedItem.data() + m.ratedStart[u];
            const std::uint32_t* last = m.ratedItem.data() + m.ratedStart[u + 1];
            for (const std::uint32_t* at = std::upper_bound(first, last, i); at != last; ++at) {
                const std::uint32_t j = *at;
                if (own.count[j] == 0) {
                    own.touched.push_back(j);
                }
                const float y = ResidualOf(m.ratedResidual[static_cast<std::size_t>(at - m.ratedItem.data())]);
                own.sumXy[j] += x * y;
                own.sumXx[j] += x * x;
                own.sumYy[j] += y * y;
                ++own.count[j];
            }
        }
    }

    // Offers each positive similarity of item i to both items of the pair, and clears the sums for the next item.
    void OfferPairs(std::uint32_t i, Scratch& own) const {
        for (const std::uint32_t j : own.touched) {
            const double xy = own.sumXy[j], xx = own.sumXx[j], yy = own.sumYy[j];
            if (xy > 0.0 && xx > 0.0 && yy > 0.0) {
                const double c = own.count[j];
                const auto similarity =
                    static_cast<float>(xy / std::sqrt(xx * yy) * c / (c + m_model.settings.neighbourShrink));
                own.candidates[i].emplace_back(similarity, j);
                own.candidates[j].emplace_back(similarity, i);
                if (own.candidates[j].size() > m_cutAt) {
                    Cut(own.candidates[j]);
                }
            }
            own.sumXy[j] = own.sumXx[j] = own.sumYy[j] = 0.0f;
            own.count[j] = 0;
        }
        if (own.candidates[i].size() > m_cutAt) {
            Cut(own.candidates[i]);
        }
    }

    Impl& m_model;
    CThreadPool& m_pool;
    const std::size_t m_keep;
    const std::size_t m_cutAt;
    std::vector<char> m_sampled;
    std::vector<std::size_t> m_itemStart;
    std::vector<std::uint32_t> m_raterUser;
    std::vector<float> m_raterResidual;
    std::vector<Scratch> m_scratch;
    std::vector<std::vector<Candidate>> m_candidates;
};

void CRatingModel::Impl::BuildNeighbours(const Rows& byUser) {
    // Residuals per user, sorted by item.
    neighbourStart.clear();
    FillRatedLists(CRowsByUser(byUser));
    CThreadPool serial(1);
    CNeighbourBuild build(*this, threads ? *threads : serial);
    build.SampleCoRaters(byUser);
    build.GroupRatersByItem();
    build.OfferSimilarities();
    build.KeepStrongest();
    build.Pack();
    IndexHeavyUsers();
}

} // namespace quillory::model
