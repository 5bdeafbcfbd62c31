// The users' solve against the trained items: each user's conditional mean given the averaged sample's item vectors
// and his ratings, the same computation as the sampler's user step. The end of training solves every user so, and
// fold-in solves a user again from all of his ratings.

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <Eigen/Cholesky>
#include <Eigen/Core>

#include "RatingModelImpl.h"
#include "RatingRows.h"
#include "ThreadPool.h"

namespace quillory::model {

void CRatingModel::Impl::SolveUsers(const Rows& byUser) {
    // Every trained user, and the prior a user without ratings falls back to, solved as fold-in solves them.
    userFactors.assign(std::size_t(numUsers) * Width(), 0.0f);
    userBias.assign(numUsers, 0.0f);
    priorUserFactors.assign(Width(), 0.0f);
    SolveUser({}, priorUserBias, priorUserFactors.data());
    constexpr std::size_t kUsersPerChunk = 256;
    RunOverRows(threads, numUsers, kUsersPerChunk, [&](std::size_t first, std::size_t last) {
        std::vector<std::pair<std::uint32_t, float>> row;
        for (auto u = static_cast<std::uint32_t>(first); u < last; ++u) {
            row.clear();
            for (std::size_t k = byUser.start[u]; k < byUser.start[u + 1]; ++k) {
                row.emplace_back(byUser.index[k], byUser.value[k]);
            }
            SolveUser(row, userBias[u], &userFactors[std::size_t(u) * Width()]);
        }
    });
}

// The items' spread counts at most as a noise of this precision (an error of 0.3 stars): on data that the factors fit
// almost exactly the noise precision grows without bound, and the spread, which each sample's own fit absorbed,
// must not then outweigh the ratings.
constexpr double kSpreadPrecision = 10.0;

// The user's conditional mean given each sample's item vectors: the same computation as the training's user step.
void CRatingModel::Impl::SolveUser(UserRatings ratings, float& bias, float* factorsOut) const {
    const Eigen::Index d = factors + 1;
    const std::size_t width = Width();
    std::vector<std::pair<std::uint32_t, float>> known;
    known.reserve(ratings.size());
    for (const auto& entry : ratings) {
        if (entry.first < numItems) {
            known.push_back(entry);
        }
    }
    const auto n = static_cast<Eigen::Index>(known.size());
    Matrix design(d, n);
    Vector target(n);
    double biasSum = 0.0;
    for (std::uint32_t s = 0; s < samples; ++s) {
        for (Eigen::Index j = 0; j < n; ++j) {
            const std::uint32_t item = known[static_cast<std::size_t>(j)].first;
            const float* row = &itemFactors[std::size_t(item) * width + std::size_t(s) * factors];
            design(0, j) = 1.0;
            for (std::uint32_t f = 0; f < factors; ++f) {
                design(f + 1, j) = static_cast<double>(row[f]) * samples;
            }
            const double itemB = itemSampleBias[std::size_t(item) * samples + s];
            target(j) = known[static_cast<std::size_t>(j)].second - mean - itemB;
        }
        const Matrix& prior = hyperPrecision[s];
        Matrix precision = prior;
        precision.selfadjointView<Eigen::Lower>().rankUpdate(design, noisePrecision[s]);
        if (!itemVariance.empty()) { // an averaged model: the items' spread over the samples averaged
            for (Eigen::Index j = 0; j < n; ++j) {
                const float* var =
                    &itemVariance[std::size_t(known[static_cast<std::size_t>(j)].first) * std::size_t(d)];
                for (Eigen::Index f = 0; f < d; ++f) {
                    precision(f, f) += std::min(noisePrecision[s], kSpreadPrecision) * var[f];
                }
            }
        }
        Vector priorMean = hyperMean[s];
        if (HasImplicit() && n > 0) {
            const double scale = 1.0 / std::sqrt(static_cast<double>(n));
            for (Eigen::Index j = 0; j < n; ++j) {
                const float* y =
                    &implicitVectors[(std::size_t(known[static_cast<std::size_t>(j)].first) * samples + s) *
                                     std::size_t(d)];
                for (Eigen::Index f = 0; f < d; ++f) {
                    priorMean(f) += scale * y[f];
                }
            }
        }
        Vector rhs = prior * priorMean;
        rhs.noalias() += noisePrecision[s] * (design * target);
        const Vector m = Eigen::LLT<Matrix>(precision).solve(rhs);
        for (std::uint32_t f = 0; f < factors; ++f) {
            factorsOut[std::size_t(s) * factors + f] = static_cast<float>(m(f + 1));
        }
        biasSum += m(0);
    }
    bias = static_cast<float>(biasSum / samples);
}

} // namespace quillory::model
