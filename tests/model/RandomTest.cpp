#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "Random.h"

namespace quillory::model {
namespace {

// Mean and variance of `count` draws.
template <class Draw> std::pair<double, double> Moments(int count, Draw draw) {
    double sum = 0.0, squares = 0.0;
    for (int i = 0; i < count; ++i) {
        const double x = draw();
        sum += x;
        squares += x * x;
    }
    const double mean = sum / count;
    return {mean, squares / count - mean * mean};
}

TEST(Random, DrawsHaveTheirDistributionsMomentsAndRepeat) {
    CRandom random(7);
    for (int i = 0; i < 10000; ++i) {
        const double u = random.Uniform();
        ASSERT_TRUE(u > 0.0 && u < 1.0) << u;
    }
    const auto [normalMean, normalVariance] = Moments(200000, [&] { return random.Normal(); });
    EXPECT_NEAR(normalMean, 0.0, 0.01);
    EXPECT_NEAR(normalVariance, 1.0, 0.02);
    // Gamma(k) has mean k and variance k; shapes below one take a separate path.
    for (double shape : {0.5, 3.0, 50.0}) {
        const auto [mean, variance] = Moments(200000, [&] { return random.Gamma(shape); });
        EXPECT_NEAR(mean, shape, 0.02 * shape + 0.01) << shape;
        EXPECT_NEAR(variance, shape, 0.05 * shape + 0.02) << shape;
    }

    // The shape, bin by bin, against the normal's own probabilities: the top layer (below 0.2152), the body, the
    // wedges, and the tail beyond 3.6542 that the base layer hands on. Each bound is four standard errors.
    const double bounds[] = {0.0, 0.2152418959132564, 0.5, 1.0, 2.0, 3.0, 3.6541528853610088, 5.0, INFINITY};
    const double expected[] = {0.170421, 0.212504, 0.299765, 0.271810, 0.042800, 0.002442, 0.000257, 5.7e-7};
    constexpr int kDraws = 2000000;
    int counts[8] = {};
    for (int i = 0; i < kDraws; ++i) {
        const double x = std::fabs(random.Normal());
        int bin = 0;
        while (x >= bounds[bin + 1]) {
            ++bin;
        }
        ++counts[bin];
    }
    for (int bin = 0; bin < 8; ++bin) {
        const double share = static_cast<double>(counts[bin]) / kDraws;
        const double error = std::sqrt(expected[bin] * (1.0 - expected[bin]) / kDraws);
        EXPECT_NEAR(share, expected[bin], 4.0 * error + 1e-6) << "|x| in [" << bounds[bin] << ", " << bounds[bin + 1];
    }

    CRandom a(99), b(99), c(100);
    std::vector<double> first, second;
    for (int i = 0; i < 100; ++i) {
        first.push_back(a.Normal());
        second.push_back(b.Normal());
    }
    EXPECT_EQ(first, second);
    EXPECT_NE(first[0], c.Normal());
}

} // namespace
} // namespace quillory::model
