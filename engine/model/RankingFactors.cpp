// The ranking model's taste factors: implicit alternating least squares (Rendle et al., "Revisiting the performance
// of iALS on item recommendation benchmarks", 2022). Every rated item is a one, every unrated pair a zero weighted
// `unobserved`; each sweep solves every user's factors from the items' and then every item's from the users', each
// exactly: the zeros enter through the other side's Gram matrix, so that none is visited. Only the items' factors are
// kept: a user's are solved again from his ratings as they are whenever his list is asked for (CUserTaste).

#include <algorithm>
#include <cmath>
#include <numeric>

#include <Eigen/Cholesky>
#include <Eigen/Core>

#include "Random.h"
#include "RankingImpl.h"
#include "ThreadPool.h"

namespace quillory::model {

namespace {

constexpr std::size_t kRowsPerChunk = 256;

using Matrix = Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic>;
using Vector = Eigen::Matrix<float, Eigen::Dynamic, 1>;
using FactorMap = Eigen::Map<Matrix>;

// The penalty of a row with `ones` ones against `others` rows of the other side.
float Penalty(const RankingSettings& s, std::uint64_t ones, std::uint64_t others) {
    return static_cast<float>(s.factorPenalty * (double(ones) + s.unobserved * double(others)));
}

// One thread's room for a row's solve.
struct SolveSpace {
    Matrix gathered; // the other side's factors at the row's ones
    Matrix system;
    Vector right;
    Eigen::LLT<Matrix, Eigen::Lower> llt; // kept, so that its room is kept from row to row
};

// A row's factors: minimises the squared error over its ones (the columns of `other` at `ones`), the weighted zeros
// (`gram`, the other side's Gram matrix times the zeros' weight) and the penalty. Written into `out`.
template <class Ones, class Out>
void SolveRow(const Eigen::Ref<const Matrix>& other, const Eigen::Ref<const Matrix>& gram, const Ones& ones,
              std::size_t count, float penalty, SolveSpace& space, Out&& out) {
    const auto k = other.rows();
    space.gathered.resize(k, static_cast<Eigen::Index>(count));
    for (std::size_t c = 0; c < count; ++c) {
        space.gathered.col(static_cast<Eigen::Index>(c)) = other.col(ones[c]);
    }
    space.system = gram;
    space.system.selfadjointView<Eigen::Lower>().rankUpdate(space.gathered);
    space.system.diagonal().array() += penalty;
    space.right = space.gathered.rowwise().sum();
    space.llt.compute(space.system);
    out = space.llt.solve(space.right);
}

// The ratings the factors train from, grouped both ways: those of every user of `factorMinRatings` or more (a user
// of fewer says little about the items, and costs a solve every sweep all the same) where they are within the work
// limit, else a sample of whole users (the same for the same seed) whose ratings come to about the limit. Whole users
// keep what rating several items together says; an item's factors need only enough of its raters, and a user's own
// factors are solved from all his ratings whenever his list is asked for.
struct FactorLists {
    std::vector<std::uint64_t> userStart; // users + 1 offsets
    std::vector<std::uint32_t> items;
    std::vector<std::uint64_t> itemStart; // items + 1 offsets
    std::vector<std::uint32_t> raters;
};

FactorLists SampleLists(const RankingLists& lists, std::uint32_t numUsers, std::uint32_t numItems,
                        const RankingSettings& s) {
    const std::uint64_t total = lists.items.size();
    const double keep = total > s.factorWork ? double(s.factorWork) / double(total) : 1.0;
    FactorLists f;
    f.userStart.assign(std::size_t(numUsers) + 1, 0);
    f.itemStart.assign(std::size_t(numItems) + 1, 0);
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        std::uint64_t state = s.seed ^ (std::uint64_t(u) * 0xd1b54a32d192ed03ULL);
        const std::uint64_t first = lists.userStart[u], length = lists.userStart[u + 1] - first;
        const bool kept =
            length >= s.factorMinRatings && (keep >= 1.0 || double(SplitMix(state) >> 11) * 0x1.0p-53 < keep);
        const std::uint64_t count = kept ? length : 0;
        f.userStart[u + 1] = f.userStart[u] + count;
        for (std::uint64_t k = first; k < first + count; ++k) {
            ++f.itemStart[lists.items[k] + 1];
        }
    }
    std::partial_sum(f.itemStart.begin(), f.itemStart.end(), f.itemStart.begin());
    f.items.resize(f.userStart.back());
    f.raters.resize(f.itemStart.back());
    std::vector<std::uint64_t> next(f.itemStart.begin(), f.itemStart.end() - 1);
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        const std::uint64_t count = f.userStart[u + 1] - f.userStart[u];
        std::copy_n(lists.items.begin() + std::ptrdiff_t(lists.userStart[u]), count,
                    f.items.begin() + std::ptrdiff_t(f.userStart[u]));
        for (std::uint64_t k = 0; k < count; ++k) {
            f.raters[next[f.items[f.userStart[u] + k]]++] = u;
        }
    }
    return f;
}

} // namespace

void CRankingModel::Impl::BuildFactors(const RankingLists& lists, CThreadPool& threads) {
    const auto k = static_cast<Eigen::Index>(settings.factors);
    factors.clear();
    gram.clear();
    if (k == 0 || numItems == 0) {
        return;
    }
    factors.resize(std::size_t(numItems) * std::size_t(k));
    CRandom random(settings.seed + 1);
    const double scale = 0.1 / std::sqrt(double(k));
    for (float& x : factors) {
        x = static_cast<float>(scale * random.Normal());
    }
    const FactorLists ones = SampleLists(lists, numUsers, numItems, settings);
    FactorMap items(factors.data(), k, numItems);
    Matrix users = Matrix::Zero(k, numUsers);
    const auto unobserved = static_cast<float>(settings.unobserved);
    std::vector<SolveSpace> spaces(threads.Threads());
    for (int epoch = 0; epoch < settings.factorEpochs; ++epoch) {
        const Matrix itemGram = unobserved * (items * items.transpose());
        threads.Run((numUsers + kRowsPerChunk - 1) / kRowsPerChunk, [&](std::size_t chunk, unsigned thread) {
            const std::size_t end = std::min<std::size_t>(numUsers, (chunk + 1) * kRowsPerChunk);
            for (std::size_t u = chunk * kRowsPerChunk; u < end; ++u) {
                const std::uint64_t first = ones.userStart[u], count = ones.userStart[u + 1] - first;
                if (count == 0) { // no ones: the solve gives zeros
                    users.col(static_cast<Eigen::Index>(u)).setZero();
                    continue;
                }
                SolveRow(items, itemGram, ones.items.data() + first, count, Penalty(settings, count, numItems),
                         spaces[thread], users.col(static_cast<Eigen::Index>(u)));
            }
        });
        const Matrix userGram = unobserved * (users * users.transpose());
        threads.Run((numItems + kRowsPerChunk - 1) / kRowsPerChunk, [&](std::size_t chunk, unsigned thread) {
            const std::size_t end = std::min<std::size_t>(numItems, (chunk + 1) * kRowsPerChunk);
            for (std::size_t j = chunk * kRowsPerChunk; j < end; ++j) {
                const std::uint64_t first = ones.itemStart[j], count = ones.itemStart[j + 1] - first;
                if (count == 0) {
                    items.col(static_cast<Eigen::Index>(j)).setZero();
                    continue;
                }
                SolveRow(users, userGram, ones.raters.data() + first, count, Penalty(settings, count, numUsers),
                         spaces[thread], items.col(static_cast<Eigen::Index>(j)));
            }
        });
    }
    BuildGram();
}

void CRankingModel::Impl::BuildGram() {
    const auto k = static_cast<Eigen::Index>(settings.factors);
    if (k == 0 || factors.empty()) {
        gram.clear();
        return;
    }
    gram.resize(std::size_t(k) * std::size_t(k));
    const Eigen::Map<const Matrix> items(factors.data(), k, numItems);
    Eigen::Map<Matrix>(gram.data(), k, k) = static_cast<float>(settings.unobserved) * (items * items.transpose());
}

CUserTaste::CUserTaste(const CRankingModel::Impl& model, UserRatings rated) : m_model(model) {
    const auto k = static_cast<Eigen::Index>(model.settings.factors);
    std::vector<std::uint32_t> ones;
    ones.reserve(rated.size());
    for (const auto& entry : rated) {
        ones.push_back(entry.first);
    }
    SolveSpace space;
    m_taste.assign(std::size_t(k), 0.0F);
    const Eigen::Map<const Matrix> items(model.factors.data(), k, model.numItems);
    const Eigen::Map<const Matrix> itemGram(model.gram.data(), k, k);
    SolveRow(items, itemGram, ones, ones.size(), Penalty(model.settings, ones.size(), model.numItems), space,
             Eigen::Map<Vector>(m_taste.data(), k));
    m_system.assign(space.system.data(), space.system.data() + space.system.size());
}

void CUserTaste::Scores(std::vector<float>& out) const {
    const auto k = static_cast<Eigen::Index>(m_model.settings.factors);
    out.resize(m_model.numItems);
    const Eigen::Map<const Matrix> items(m_model.factors.data(), k, m_model.numItems);
    Eigen::Map<Vector>(out.data(), m_model.numItems).noalias() =
        items.transpose() * Eigen::Map<const Vector>(m_taste.data(), k);
}

std::vector<std::pair<std::uint32_t, float>> CUserTaste::LikedShares(UserRatings rated, std::uint32_t item) const {
    const auto k = static_cast<Eigen::Index>(m_model.settings.factors);
    const Eigen::Map<const Matrix> items(m_model.factors.data(), k, m_model.numItems);
    const Eigen::Map<const Matrix> system(m_system.data(), k, k);
    // The score of `item` is h' A^-1 (the sum of his items' h): item i's share of it is (A^-1 h)' h_i.
    const Vector toward = Eigen::LLT<Matrix, Eigen::Lower>(system).solve(items.col(item));
    std::vector<std::pair<std::uint32_t, float>> shares;
    for (const auto& [ratedItem, value] : rated) {
        if (value >= 4.0F) {
            shares.emplace_back(ratedItem, toward.dot(items.col(ratedItem)));
        }
    }
    return shares;
}

} // namespace quillory::model
