// The end of training: the samples the chain kept become one averaged sample, with each item's spread over them,
// against which every user is then solved as fold-in solves him.

#include <utility>
#include <vector>

#include <Eigen/Cholesky>
#include <Eigen/Core>

#include "RatingModelImpl.h"
#include "RatingRows.h"
#include "ThreadPool.h"

namespace quillory::model {

namespace {

// Items per chunk of the loops over items. Each item's sums are its own, taken over the samples in order, so the
// chunks change nothing of what is averaged.
constexpr std::size_t kItemsPerChunk = 512;

} // namespace

void CRatingModel::Impl::AverageSamples(const Rows& byUser) {
    // The kept samples become one: each item's vectors (factors, bias, implicit) and the users' prior and noise
    // precision are averaged over them, and every user takes his conditional mean given those, which is what
    // fold-in computes. A model of one sample's size predicts nearly as the average of the samples' predictions
    // did, and its cache holds one sample rather than all of them.
    if (!HasFactors()) {
        return;
    }
    std::vector<float> averaged = AverageItemFactors();
    std::vector<float> implicit = AverageImplicitVectors();
    MeasureItemSpread(averaged);
    AveragePriors();
    itemFactors = std::move(averaged);
    implicitVectors = std::move(implicit);
    itemSampleBias = itemBias;
    sweeps = samples;
    samples = 1;
    SolveUsers(byUser);
}

std::vector<float> CRatingModel::Impl::AverageItemFactors() const {
    const std::size_t width = Width();
    std::vector<float> averaged(std::size_t(numItems) * factors);
    RunOverRows(threads, numItems, kItemsPerChunk, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            for (std::size_t f = 0; f < factors; ++f) {
                double sum = 0.0; // the stored factors are already divided by the sample count
                for (std::size_t s = 0; s < samples; ++s) {
                    sum += itemFactors[i * width + s * factors + f];
                }
                averaged[i * factors + f] = static_cast<float>(sum);
            }
        }
    });
    return averaged;
}

std::vector<float> CRatingModel::Impl::AverageImplicitVectors() const {
    if (!HasImplicit()) {
        return {};
    }
    const std::size_t d = std::size_t(factors) + 1;
    const double inverse = 1.0 / samples;
    std::vector<float> implicit(std::size_t(numItems) * d);
    RunOverRows(threads, numItems, kItemsPerChunk, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            for (std::size_t f = 0; f < d; ++f) {
                double sum = 0.0;
                for (std::size_t s = 0; s < samples; ++s) {
                    sum += implicitVectors[(i * samples + s) * d + f];
                }
                implicit[i * d + f] = static_cast<float>(sum * inverse);
            }
        }
    });
    return implicit;
}

void CRatingModel::Impl::MeasureItemSpread(const std::vector<float>& averaged) {
    // How far each item's vector (bias, factors) spread over the samples: a user solved against the averages alone
    // would take them for certain and follow his few ratings too far; the spread, added to his precision as the
    // samples' own variation would add it, holds him back about as much as solving against every sample did. What
    // all items share, a sample's drift of the whole factor space (a linear map of the averages, fitted by least
    // squares), is no uncertainty of any one item and is left out.
    const std::size_t d = std::size_t(factors) + 1;
    const double inverse = 1.0 / samples;
    itemVariance.assign(std::size_t(numItems) * d, 0.0f);
    const auto rows = static_cast<Eigen::Index>(numItems);
    const auto cols = static_cast<Eigen::Index>(d);
    Matrix mean(rows, cols);
    for (std::size_t i = 0; i < numItems; ++i) {
        mean(static_cast<Eigen::Index>(i), 0) = itemBias[i];
        for (std::size_t f = 0; f < factors; ++f) {
            mean(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(f + 1)) = averaged[i * factors + f];
        }
    }
    // Each sample's map over all items, the samples over the threads; then each item's squared spread, the items
    // over the threads, summed over the samples in order. An item's row of the product with the map is the same sum
    // of d terms whichever rows are multiplied with it, so the chunks do not change the spread.
    const Eigen::LDLT<Matrix> gram((mean.transpose() * mean + 1e-9 * Matrix::Identity(cols, cols)).eval());
    std::vector<Matrix> maps(samples);
    RunOverRows(threads, samples, 1, [&](std::size_t first, std::size_t last) {
        Matrix sample;
        for (std::size_t s = first; s < last; ++s) {
            SampleItemRows(s, 0, numItems, sample);
            maps[s] = gram.solve(mean.transpose() * sample);
        }
    });
    RunOverRows(threads, numItems, kItemsPerChunk, [&](std::size_t first, std::size_t last) {
        const auto count = static_cast<Eigen::Index>(last - first);
        std::vector<double> squares((last - first) * d, 0.0);
        Matrix sample, spread;
        for (std::size_t s = 0; s < samples; ++s) {
            SampleItemRows(s, first, last, sample);
            spread = sample - mean.middleRows(static_cast<Eigen::Index>(first), count) * maps[s];
            for (Eigen::Index r = 0; r < count; ++r) {
                for (std::size_t f = 0; f < d; ++f) {
                    const double e = spread(r, static_cast<Eigen::Index>(f));
                    squares[static_cast<std::size_t>(r) * d + f] += e * e;
                }
            }
        }
        for (std::size_t k = 0; k < squares.size(); ++k) {
            itemVariance[first * d + k] = static_cast<float>(squares[k] * inverse);
        }
    });
}

void CRatingModel::Impl::SampleItemRows(std::size_t s, std::size_t first, std::size_t last, Matrix& out) const {
    const std::size_t width = Width();
    out.resize(static_cast<Eigen::Index>(last - first), static_cast<Eigen::Index>(factors) + 1);
    for (std::size_t i = first; i < last; ++i) {
        const auto r = static_cast<Eigen::Index>(i - first);
        out(r, 0) = itemSampleBias[i * samples + s];
        for (std::size_t f = 0; f < factors; ++f) {
            out(r, static_cast<Eigen::Index>(f + 1)) = double(itemFactors[i * width + s * factors + f]) * samples;
        }
    }
}

void CRatingModel::Impl::AveragePriors() {
    const auto d = static_cast<Eigen::Index>(factors) + 1;
    const double inverse = 1.0 / samples;
    Vector meanPrior = Vector::Zero(d);
    Matrix precisionPrior = Matrix::Zero(d, d);
    double noise = 0.0;
    for (std::size_t s = 0; s < samples; ++s) {
        meanPrior += hyperMean[s] * inverse;
        precisionPrior += hyperPrecision[s] * inverse;
        noise += noisePrecision[s] * inverse;
    }
    hyperMean.assign(1, meanPrior);
    hyperPrecision.assign(1, precisionPrior);
    noisePrecision.assign(1, noise);
}

} // namespace quillory::model
