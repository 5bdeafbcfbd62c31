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
