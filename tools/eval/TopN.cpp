// The top-N mode of quillory-eval: how well each method puts the movies a user will rate 4 or 5 at the top of his
// list. Each split holds out a fifth of the ratings at random; a method ranks, for every user with at least one
// held-out rating of 4 or 5, all the movies he did not rate in training, and the first `depth` of its list are
// scored against those held-out hits.

#include "TopN.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numeric>
#include <string>
#include <utility>

#include <Eigen/Cholesky>
#include <Eigen/Core>

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

// EASE on 0/1 training data over `items`: B = I - P diag(1/diag(P)) with P = (X'X + lambda I)^-1, so a user's score
// of item j is -(sum of P's rows i over his items) / P_jj. Items outside the set score below every item in it.
class CEase {
public:
    CEase(const Split& split, std::uint32_t numItems, std::uint32_t limit) : m_position(numItems, -1) {
        const std::uint32_t size = std::min(numItems, limit);
        m_items.assign(split.byCount.begin(), split.byCount.begin() + size);
        for (std::uint32_t k = 0; k < size; ++k) {
            m_position[m_items[k]] = static_cast<int>(k);
        }
        m_gram = Eigen::MatrixXf::Zero(size, size);
        std::vector<int> mine;
        for (const UserList& rated : split.rated) {
            mine.clear();
            for (const auto& entry : rated) {
                if (m_position[entry.first] >= 0) {
                    mine.push_back(m_position[entry.first]);
                }
            }
            for (int a : mine) {
                for (int b : mine) {
                    m_gram(a, b) += 1.0F;
                }
            }
        }
    }

    void Fit(double lambda) {
        Eigen::MatrixXf a = m_gram;
        a.diagonal().array() += static_cast<float>(lambda);
        m_inverse = a.llt().solve(Eigen::MatrixXf::Identity(a.rows(), a.cols()));
        m_diagonal = m_inverse.diagonal();
    }

    void Rank(const UserList& rated, const CRatedMarks& marks, const std::vector<std::uint32_t>& fallback,
              std::size_t depth, std::vector<std::uint32_t>& list) {
        m_sum.setZero(m_inverse.rows());
        for (const auto& entry : rated) {
            if (m_position[entry.first] >= 0) {
                m_sum += m_inverse.col(m_position[entry.first]);
            }
        }
        m_scored.clear();
        for (Eigen::Index k = 0; k < m_sum.size(); ++k) {
            if (!marks.Rated(m_items[k])) {
                m_scored.emplace_back(-m_sum[k] / m_diagonal[k], m_items[k]);
            }
        }
        const auto top = static_cast<std::ptrdiff_t>(std::min(depth, m_scored.size()));
        std::partial_sort(m_scored.begin(), m_scored.begin() + top, m_scored.end(), [](const auto& x, const auto& y) {
            return x.first != y.first ? x.first > y.first : x.second < y.second;
        });
        list.clear();
        for (std::ptrdiff_t k = 0; k < top; ++k) {
            list.push_back(m_scored[k].second);
        }
        FillFrom(fallback, marks, depth, list);
    }

    std::size_t Size() const { return m_items.size(); }

private:
    std::vector<int> m_position;
    std::vector<std::uint32_t> m_items;
    Eigen::MatrixXf m_gram, m_inverse;
    Eigen::VectorXf m_diagonal, m_sum;
    std::vector<std::pair<float, std::uint32_t>> m_scored;
};

// One method's results: the mean metrics of each split.
struct Column {
    std::string name;
    std::vector<Metrics> splits;
};

void PrintColumns(const std::vector<Column>& columns, std::size_t depth) {
    std::printf("\n%-16s %8s %8s %8s   NDCG@%zu per split (sd)\n", "method", ("P@" + std::to_string(depth)).c_str(),
                ("R@" + std::to_string(depth)).c_str(), ("NDCG@" + std::to_string(depth)).c_str(), depth);
    for (const Column& column : columns) {
        Metrics mean;
        for (const Metrics& m : column.splits) {
            mean.precision += m.precision / static_cast<double>(column.splits.size());
            mean.recall += m.recall / static_cast<double>(column.splits.size());
            mean.ndcg += m.ndcg / static_cast<double>(column.splits.size());
        }
        double variance = 0.0;
        for (const Metrics& m : column.splits) {
            variance += (m.ndcg - mean.ndcg) * (m.ndcg - mean.ndcg);
        }
        const double sd = column.splits.size() > 1 ? std::sqrt(variance / double(column.splits.size() - 1)) : 0.0;
        std::printf("%-16s %8.4f %8.4f %8.4f  ", column.name.c_str(), mean.precision, mean.recall, mean.ndcg);
        for (const Metrics& m : column.splits) {
            std::printf(" %.4f", m.ndcg);
        }
        std::printf("  (%.4f)\n", sd);
    }
}

} // namespace

void RunTopN(const std::vector<Rating>& ratings, std::uint32_t numUsers, std::uint32_t numItems,
             const TopNOptions& options) {
    const std::size_t depth = options.depth;
    std::vector<Column> columns;
    columns.push_back({"most popular", {}});
    for (double lambda : options.easeLambdas) {
        columns.push_back({"EASE " + std::to_string(static_cast<long long>(lambda)), {}});
    }
    columns.push_back({"ranking model", {}});
    std::printf("top-N: %d random 80/20 splits (seed %lld); a hit is a held-out rating of 4 or 5; candidates are all "
                "movies a user has not rated in training\nranking model: %s\n",
                options.splits, options.seed, options.ranking.Describe().c_str());
    if (numItems > options.easeItems) {
        std::printf("EASE on the %u most-rated of the %u movies of each split's training ratings; the rest rank "
                    "below them by rating count\n",
                    options.easeItems, numItems);
    }
    std::fflush(stdout);

    double trainSeconds = 0.0, rankSeconds = 0.0, easeSeconds = 0.0;
    std::size_t rankCalls = 0;
    std::string summary;
    for (int s = 0; s < options.splits; ++s) {
        std::uint64_t state = static_cast<std::uint64_t>(options.seed) * 1000 + static_cast<std::uint64_t>(s);
        const Split split = MakeSplit(ratings, numUsers, numItems, model::SplitMix(state));
        CRatedMarks marks(numItems);
        std::vector<std::uint32_t> list;
        std::size_t column = 0;
        auto evaluate = [&](const std::function<void(std::uint32_t)>& rank) {
            Metrics sum;
            for (std::uint32_t u = 0; u < numUsers; ++u) {
                if (split.hits[u].empty()) {
                    continue;
                }
                marks.Mark(split.rated[u]);
                list.clear();
                rank(u);
                sum.Add(list, split.hits[u], depth);
            }
            columns[column++].splits.push_back(sum.Mean());
        };

        evaluate([&](std::uint32_t) { FillFrom(split.byCount, marks, depth, list); });

        const auto easeStart = Clock::now();
        CEase ease(split, numItems, options.easeItems);
        for (double lambda : options.easeLambdas) {
            ease.Fit(lambda);
            evaluate([&](std::uint32_t u) { ease.Rank(split.rated[u], marks, split.byCount, depth, list); });
        }
        easeSeconds += std::chrono::duration<double>(Clock::now() - easeStart).count();

        model::CRankingModel ranking(options.ranking);
        const auto trainStart = Clock::now();
        ranking.Train(split.train, numUsers, numItems);
        trainSeconds += std::chrono::duration<double>(Clock::now() - trainStart).count();
        summary = ranking.Summary();
        const auto rankStart = Clock::now();
        evaluate([&](std::uint32_t u) {
            for (const model::RankedItem& picked : ranking.Rank(split.rated[u], depth)) {
                list.push_back(picked.item);
            }
            ++rankCalls;
        });
        rankSeconds += std::chrono::duration<double>(Clock::now() - rankStart).count();
        double easeBest = 0.0;
        for (auto c = columns.begin() + 1; c + 1 < columns.end(); ++c) {
            easeBest = std::max(easeBest, c->splits.back().ndcg);
        }
        std::printf("split %d: %zu training ratings, %zu users with a hit; NDCG@%zu popular %.4f, EASE best %.4f, "
                    "ranking model %.4f\n",
                    s + 1, split.train.size(), columns.front().splits.back().users, depth,
                    columns.front().splits.back().ndcg, easeBest, columns.back().splits.back().ndcg);
        std::fflush(stdout);
    }
    PrintColumns(columns, depth);
    const double splits = std::max(1, options.splits);
    std::printf("\nranking model: train %.3f s, rank %.1f us a call (mean over splits); %s\nEASE: %.1f s a split "
                "for the whole grid\n",
                trainSeconds / splits, rankCalls ? rankSeconds * 1e6 / static_cast<double>(rankCalls) : 0.0,
                summary.c_str(), easeSeconds / splits);
}

} // namespace quillory::eval
