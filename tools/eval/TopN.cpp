// The top-N mode of quillory-eval: how well each method puts the movies a user will rate 4 or 5 at the top of his
// list. Each split holds out a fifth of the ratings at random; a method ranks, for every user with at least one
// held-out rating of 4 or 5, all the movies he did not rate in training, and the first `depth` of its list are
// scored against those held-out hits. A method's settings are never chosen on the test: each split's training
// ratings are split again the same way, and the settings that score best on that validation split are the ones
// refitted on all the training ratings and scored on the test.

#include "TopN.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <utility>

#include <Eigen/Core>

#include "Ease.h"
#include "ImplicitAls.h"
#include "Random.h"

namespace quillory::eval {

namespace {

using model::Rating;
using Clock = std::chrono::steady_clock;
using UserList = std::vector<std::pair<std::uint32_t, float>>;

// Precision, recall and NDCG at the depth, summed over the users scored.
struct Metrics {
    double precision = 0.0;
    double recall = 0.0;
    double ndcg = 0.0;
    std::size_t users = 0;

    void Add(const std::vector<std::uint32_t>& list, const std::vector<std::uint32_t>& hits, std::size_t depth) {
        double dcg = 0.0, ideal = 0.0;
        std::size_t found = 0;
        for (std::size_t k = 0; k < std::min(depth, list.size()); ++k) {
            // An item listed twice counts once, so that a fault of a method cannot raise its score.
            if (std::binary_search(hits.begin(), hits.end(), list[k]) &&
                std::find(list.begin(), list.begin() + std::ptrdiff_t(k), list[k]) ==
                    list.begin() + std::ptrdiff_t(k)) {
                ++found;
                dcg += 1.0 / std::log2(static_cast<double>(k) + 2.0);
            }
        }
        for (std::size_t k = 0; k < std::min(depth, hits.size()); ++k) {
            ideal += 1.0 / std::log2(static_cast<double>(k) + 2.0);
        }
        precision += static_cast<double>(found) / static_cast<double>(depth);
        recall += static_cast<double>(found) / static_cast<double>(hits.size());
        ndcg += dcg / ideal;
        ++users;
    }
    Metrics Mean() const {
        const double n = std::max<double>(1.0, static_cast<double>(users));
        return {precision / n, recall / n, ndcg / n, users};
    }
};

// One split: each user's training ratings (sorted by item) and held-out hits (sorted).
struct Split {
    std::vector<Rating> train;
    std::vector<UserList> rated;
    std::vector<std::vector<std::uint32_t>> hits;
    std::vector<std::uint32_t> count;   // training ratings per item
    std::vector<std::uint32_t> byCount; // items, most rated first (ties by index)
};

Split MakeSplit(const std::vector<Rating>& ratings, std::uint32_t numUsers, std::uint32_t numItems,
                std::uint64_t seed) {
    std::vector<std::size_t> order(ratings.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    model::CRandom random(seed);
    for (std::size_t i = order.size(); i > 1; --i) {
        std::swap(order[i - 1], order[random.Next() % i]);
    }
    const std::size_t held = ratings.size() / 5;
    Split split;
    split.rated.resize(numUsers);
    split.hits.resize(numUsers);
    split.count.assign(numItems, 0);
    for (std::size_t p = 0; p < order.size(); ++p) {
        const Rating& r = ratings[order[p]];
        if (p < held) {
            if (r.value >= 4.0F) {
                split.hits[r.user].push_back(r.item);
            }
        } else {
            split.train.push_back(r);
            split.rated[r.user].emplace_back(r.item, r.value);
            ++split.count[r.item];
        }
    }
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        std::sort(split.rated[u].begin(), split.rated[u].end());
        std::sort(split.hits[u].begin(), split.hits[u].end());
    }
    split.byCount.resize(numItems);
    std::iota(split.byCount.begin(), split.byCount.end(), 0U);
    std::stable_sort(split.byCount.begin(), split.byCount.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return split.count[a] > split.count[b]; });
    return split;
}

// Marks a user's rated items, cheaply reset between users by a stamp.
class CRatedMarks {
public:
    explicit CRatedMarks(std::uint32_t items) : m_stamp(items, 0) {}
    void Mark(const UserList& rated) {
        ++m_now;
        for (const auto& entry : rated) {
            m_stamp[entry.first] = m_now;
        }
    }
    bool Rated(std::uint32_t item) const { return m_stamp[item] == m_now; }

private:
    std::vector<std::uint32_t> m_stamp;
    std::uint32_t m_now = 0;
};

// The first `depth` unrated items of `order` that `taken` does not hold yet, appended to `list`.
void FillFrom(const std::vector<std::uint32_t>& order, const CRatedMarks& marks, std::size_t depth,
              std::vector<std::uint32_t>& list) {
    for (std::uint32_t item : order) {
        if (list.size() >= depth) {
            return;
        }
        if (!marks.Rated(item) && std::find(list.begin(), list.end(), item) == list.end()) {
            list.push_back(item);
        }
    }
}

// A method under test: a grid of settings, fitted to a split's training ratings, ranking its users.
class CMethod {
public:
    virtual ~CMethod() = default;
    virtual std::string Name() const = 0;
    virtual std::size_t Settings() const { return 1; }
    virtual std::string Describe(std::size_t /*setting*/) const { return "-"; }
    // Fits setting `setting` to the split; fitting the same split again with another setting follows.
    virtual void Fit(const Split& split, std::size_t setting) = 0;
    // Appends up to `depth` items for user `u` to `list`, none of his training items.
    virtual void Rank(const Split& split, std::uint32_t u, const CRatedMarks& marks, std::size_t depth,
                      std::vector<std::uint32_t>& list) = 0;
};

class CPopular final : public CMethod {
public:
    std::string Name() const override { return "most popular"; }
    void Fit(const Split&, std::size_t) override {}
    void Rank(const Split& split, std::uint32_t, const CRatedMarks& marks, std::size_t depth,
              std::vector<std::uint32_t>& list) override {
        FillFrom(split.byCount, marks, depth, list);
    }
};

class CEaseMethod final : public CMethod {
public:
    CEaseMethod(std::vector<double> lambdas, std::uint32_t items) : m_lambdas(std::move(lambdas)), m_items(items) {}
    std::string Name() const override { return "EASE"; }
    std::size_t Settings() const override { return m_lambdas.size(); }
    std::string Describe(std::size_t setting) const override {
        return "lambda=" + std::to_string(static_cast<long long>(m_lambdas[setting]));
    }
    void Fit(const Split& split, std::size_t setting) override {
        if (m_split != &split || !m_ease) {
            // The Gram matrix is the split's: built once for every penalty of the grid.
            m_ease = std::make_unique<CEase>(split.rated, split.byCount, m_items);
            m_split = &split;
        }
        m_ease->Fit(m_lambdas[setting]);
    }
    void Rank(const Split& split, std::uint32_t u, const CRatedMarks& marks, std::size_t depth,
              std::vector<std::uint32_t>& list) override {
        m_ease->Rank(
            split.rated[u], [&](std::uint32_t item) { return marks.Rated(item); }, depth, list);
        FillFrom(split.byCount, marks, depth, list);
    }

private:
    std::vector<double> m_lambdas;
    std::uint32_t m_items;
    const Split* m_split = nullptr;
    std::unique_ptr<CEase> m_ease;
};

class CRankingMethod final : public CMethod {
public:
    CRankingMethod(std::vector<model::RankingSettings> grid, std::string name)
        : m_grid(std::move(grid)), m_name(std::move(name)) {}
    std::string Name() const override { return m_name; }
    std::size_t Settings() const override { return m_grid.size(); }
    std::string Describe(std::size_t setting) const override {
        const model::RankingSettings& s = m_grid[setting];
        char text[160];
        std::snprintf(text, sizeof text, "k=%zu alpha=%g beta=%g low=%g f=%zu e=%d a0=%g l=%g share=%g", s.neighbours,
                      s.alpha, s.beta, s.lowWeight, s.factors, s.factorEpochs, s.unobserved, s.factorPenalty,
                      s.linkShare);
        return text;
    }
    void Fit(const Split& split, std::size_t setting) override {
        m_model = model::CRankingModel(m_grid[setting]);
        m_model.Train(split.train, static_cast<std::uint32_t>(split.rated.size()),
                      static_cast<std::uint32_t>(split.count.size()));
    }
    void Rank(const Split& split, std::uint32_t u, const CRatedMarks&, std::size_t depth,
              std::vector<std::uint32_t>& list) override {
        for (const model::RankedItem& picked : m_model.Rank(split.rated[u], depth)) {
            list.push_back(picked.item);
        }
    }

private:
    std::vector<model::RankingSettings> m_grid;
    std::string m_name;
    model::CRankingModel m_model;
};

// Implicit ALS for users of the ranking model's personal lists (newcomers get its newcomers' list), its scores
// mixed with the ranking model's by `blend` (each scaled by its largest over the user's candidates).
class CImplicitAlsMethod final : public CMethod {
public:
    CImplicitAlsMethod(std::vector<ImplicitAlsSettings> grid, std::vector<double> blends)
        : m_grid(std::move(grid)), m_blends(std::move(blends)) {}
    std::string Name() const override { return "iALS"; }
    std::size_t Settings() const override { return m_grid.size() * m_blends.size(); }
    std::string Describe(std::size_t setting) const override {
        return m_grid[setting / m_blends.size()].Describe() +
               " blend=" + std::to_string(m_blends[setting % m_blends.size()]);
    }
    void Fit(const Split& split, std::size_t setting) override {
        const ImplicitAlsSettings& s = m_grid[setting / m_blends.size()];
        m_blend = m_blends[setting % m_blends.size()];
        if (m_split != &split || m_fitted.Describe() != s.Describe()) {
            m_model = std::make_unique<CImplicitAls>(s);
            m_model->Train(split.rated, static_cast<std::uint32_t>(split.count.size()));
            m_fitted = s;
        }
        if (m_split != &split) {
            m_ranking = model::CRankingModel();
            m_ranking.Train(split.train, static_cast<std::uint32_t>(split.rated.size()),
                            static_cast<std::uint32_t>(split.count.size()));
            m_split = &split;
        }
    }
    void Rank(const Split& split, std::uint32_t u, const CRatedMarks& marks, std::size_t depth,
              std::vector<std::uint32_t>& list) override {
        const auto& rated = split.rated[u];
        if (rated.size() < m_ranking.Settings().minPersonalRatings) {
            for (const model::RankedItem& picked : m_ranking.Rank(rated, depth)) {
                list.push_back(picked.item);
            }
            return;
        }
        m_model->Score(rated, m_scores);
        if (m_blend > 0.0) {
            m_other.setZero(m_scores.size());
            for (const model::RankedItem& picked : m_ranking.Rank(rated, 1000)) {
                m_other[picked.item] = picked.score;
            }
            float top = 0.0F, otherTop = 0.0F;
            for (Eigen::Index j = 0; j < m_scores.size(); ++j) {
                if (!marks.Rated(static_cast<std::uint32_t>(j))) {
                    top = std::max(top, m_scores[j]);
                    otherTop = std::max(otherTop, m_other[j]);
                }
            }
            const auto own = static_cast<float>((1.0 - m_blend) / std::max(top, 1e-9F));
            const auto other = static_cast<float>(m_blend / std::max(otherTop, 1e-9F));
            m_scores = own * m_scores + other * m_other;
        }
        m_scored.clear();
        for (Eigen::Index j = 0; j < m_scores.size(); ++j) {
            if (!marks.Rated(static_cast<std::uint32_t>(j))) {
                m_scored.emplace_back(m_scores[j], static_cast<std::uint32_t>(j));
            }
        }
        const auto top = static_cast<std::ptrdiff_t>(std::min(depth, m_scored.size()));
        std::partial_sort(m_scored.begin(), m_scored.begin() + top, m_scored.end(), [](const auto& x, const auto& y) {
            return x.first != y.first ? x.first > y.first : x.second < y.second;
        });
        for (std::ptrdiff_t k = 0; k < top; ++k) {
            list.push_back(m_scored[k].second);
        }
    }

private:
    std::vector<ImplicitAlsSettings> m_grid;
    std::vector<double> m_blends;
    double m_blend = 0.0;
    const Split* m_split = nullptr;
    ImplicitAlsSettings m_fitted;
    std::unique_ptr<CImplicitAls> m_model;
    model::CRankingModel m_ranking;
    Eigen::VectorXf m_scores, m_other;
    std::vector<std::pair<float, std::uint32_t>> m_scored;
};

// The users scored on a split: those with a hit, or a seeded sample of `limit` of them.
std::vector<std::uint32_t> ScoredUsers(const Split& split, std::uint32_t limit, std::uint64_t seed) {
    std::vector<std::uint32_t> users;
    for (std::uint32_t u = 0; u < split.hits.size(); ++u) {
        if (!split.hits[u].empty()) {
            users.push_back(u);
        }
    }
    if (limit > 0 && users.size() > limit) {
        model::CRandom random(seed);
        for (std::size_t k = 0; k < limit; ++k) {
            std::swap(users[k], users[k + random.Next() % (users.size() - k)]);
        }
        users.resize(limit);
        std::sort(users.begin(), users.end());
    }
    return users;
}

Metrics Score(CMethod& method, const Split& split, const std::vector<std::uint32_t>& users, std::size_t depth,
              double& rankSeconds) {
    CRatedMarks marks(static_cast<std::uint32_t>(split.count.size()));
    std::vector<std::uint32_t> list;
    Metrics sum;
    const auto start = Clock::now();
    for (std::uint32_t u : users) {
        marks.Mark(split.rated[u]);
        list.clear();
        method.Rank(split, u, marks, depth, list);
        sum.Add(list, split.hits[u], depth);
    }
    rankSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    return sum.Mean();
}

// One method's outcome on each split: the setting chosen on validation, its validation and test scores.
struct Outcome {
    std::vector<std::size_t> chosen;
    std::vector<double> validation;
    std::vector<Metrics> test;
    double fitSeconds = 0.0;
    double rankSeconds = 0.0;
    std::size_t rankedUsers = 0;
};

// Chooses the method's setting on the validation split, then refits it on the training split and scores the test.
// `validation` is a split of `split`'s training ratings: its own training ratings are the ones fitted to.
void TuneAndTest(CMethod& method, const Split& validation, const Split& split,
                 const std::vector<std::uint32_t>& validationUsers, const std::vector<std::uint32_t>& testUsers,
                 std::size_t depth, Outcome& outcome) {
    std::size_t best = 0;
    double bestNdcg = -1.0;
    double ignored = 0.0;
    for (std::size_t k = 0; k < method.Settings(); ++k) {
        if (method.Settings() > 1) {
            method.Fit(validation, k);
            const double ndcg = Score(method, validation, validationUsers, depth, ignored).ndcg;
            if (ndcg > bestNdcg) {
                bestNdcg = ndcg;
                best = k;
            }
        }
    }
    const auto fitStart = Clock::now();
    method.Fit(split, best);
    outcome.fitSeconds += std::chrono::duration<double>(Clock::now() - fitStart).count();
    outcome.chosen.push_back(best);
    outcome.validation.push_back(bestNdcg);
    outcome.test.push_back(Score(method, split, testUsers, depth, outcome.rankSeconds));
    outcome.rankedUsers += testUsers.size();
}

double Spread(const std::vector<double>& values, double mean) {
    double variance = 0.0;
    for (double v : values) {
        variance += (v - mean) * (v - mean);
    }
    return values.size() > 1 ? std::sqrt(variance / double(values.size() - 1)) : 0.0;
}

void PrintOutcomes(const std::vector<std::unique_ptr<CMethod>>& methods, const std::vector<Outcome>& outcomes,
                   std::size_t depth) {
    std::printf("\n%-16s %8s %8s %8s %8s   NDCG@%zu per split\n", "method", ("P@" + std::to_string(depth)).c_str(),
                ("R@" + std::to_string(depth)).c_str(), ("NDCG@" + std::to_string(depth)).c_str(), "sd", depth);
    for (std::size_t m = 0; m < methods.size(); ++m) {
        const Outcome& o = outcomes[m];
        Metrics mean;
        std::vector<double> ndcg;
        for (const Metrics& t : o.test) {
            mean.precision += t.precision / double(o.test.size());
            mean.recall += t.recall / double(o.test.size());
            mean.ndcg += t.ndcg / double(o.test.size());
            ndcg.push_back(t.ndcg);
        }
        std::printf("%-16s %8.4f %8.4f %8.4f %8.4f  ", methods[m]->Name().c_str(), mean.precision, mean.recall,
                    mean.ndcg, Spread(ndcg, mean.ndcg));
        for (double v : ndcg) {
            std::printf(" %.4f", v);
        }
        std::printf("\n");
    }
    std::printf("\nsettings chosen on validation, per split (validation NDCG):\n");
    for (std::size_t m = 0; m < methods.size(); ++m) {
        if (methods[m]->Settings() < 2) {
            continue;
        }
        std::printf("%-16s", methods[m]->Name().c_str());
        for (std::size_t s = 0; s < outcomes[m].chosen.size(); ++s) {
            std::printf(" | %s (%.4f)", methods[m]->Describe(outcomes[m].chosen[s]).c_str(), outcomes[m].validation[s]);
        }
        std::printf("\n");
    }
    std::printf("\n");
    for (std::size_t m = 0; m < methods.size(); ++m) {
        const Outcome& o = outcomes[m];
        std::printf("%-16s fit %.3f s a split, rank %.1f us a user\n", methods[m]->Name().c_str(),
                    o.fitSeconds / double(std::max<std::size_t>(1, o.test.size())),
                    o.rankedUsers ? o.rankSeconds * 1e6 / double(o.rankedUsers) : 0.0);
    }
}

} // namespace

void RunTopN(const std::vector<Rating>& ratings, std::uint32_t numUsers, std::uint32_t numItems,
             const TopNOptions& options) {
    const std::size_t depth = options.depth;
    std::vector<std::unique_ptr<CMethod>> methods;
    methods.push_back(std::make_unique<CPopular>());
    if (!options.easeLambdas.empty()) {
        methods.push_back(std::make_unique<CEaseMethod>(options.easeLambdas, options.easeItems));
    }
    if (options.linksAlone) {
        model::RankingSettings links = model::RankingSettings::Defaults();
        links.factors = 0;
        methods.push_back(std::make_unique<CRankingMethod>(std::vector<model::RankingSettings>{links}, "links alone"));
    }
    methods.push_back(std::make_unique<CRankingMethod>(options.rankings, "ranking model"));
    if (!options.ials.empty()) {
        methods.push_back(std::make_unique<CImplicitAlsMethod>(options.ials, options.ialsBlends));
    }
    std::printf("top-N: %d random 80/20 splits (seed %lld), settings chosen on an 80/20 validation split of each "
                "split's training ratings; a hit is a held-out rating of 4 or 5; candidates are all movies a user "
                "has not rated in training\n",
                options.splits, options.seed);
    if (!options.easeLambdas.empty() && numItems > options.easeItems) {
        std::printf("EASE on the %u most-rated of the %u movies of each split's training ratings; the rest rank "
                    "below them by rating count\n",
                    options.easeItems, numItems);
    }
    if (options.scoredUsers > 0) {
        std::printf("scoring at most %u users (a seeded sample) in each validation and test\n", options.scoredUsers);
    }
    std::fflush(stdout);

    std::vector<Outcome> outcomes(methods.size());
    for (int s = 0; s < options.splits; ++s) {
        std::uint64_t state = static_cast<std::uint64_t>(options.seed) * 1000 + static_cast<std::uint64_t>(s);
        const Split split = MakeSplit(ratings, numUsers, numItems, model::SplitMix(state));
        const Split validation = MakeSplit(split.train, numUsers, numItems, model::SplitMix(state));
        const std::vector<std::uint32_t> testUsers = ScoredUsers(split, options.scoredUsers, model::SplitMix(state));
        const std::vector<std::uint32_t> validationUsers =
            ScoredUsers(validation, options.scoredUsers, model::SplitMix(state));
        std::printf("split %d: %zu training ratings (%zu fitting), %zu users scored (%zu on validation); NDCG@%zu",
                    s + 1, split.train.size(), validation.train.size(), testUsers.size(), validationUsers.size(),
                    depth);
        for (std::size_t m = 0; m < methods.size(); ++m) {
            TuneAndTest(*methods[m], validation, split, validationUsers, testUsers, depth, outcomes[m]);
            std::printf("%s %s %.4f", m ? "," : "", methods[m]->Name().c_str(), outcomes[m].test.back().ndcg);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    PrintOutcomes(methods, outcomes, depth);
}

} // namespace quillory::eval
