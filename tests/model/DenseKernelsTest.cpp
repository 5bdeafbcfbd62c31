#include <cmath>
#include <vector>

#include <Eigen/LU>
#include <gtest/gtest.h>

#include "DenseKernels.h"

namespace quillory::model {
namespace {

using Vec3 = Eigen::Matrix<double, 3, 1>;
using Mat3 = Eigen::Matrix<double, 3, 3>;

// The conditional of a vector with prior N(m0, P^-1) given one or two ratings t_j = x_j . v + noise (precision
// alpha). The expected means and covariances, (P + alpha X X^T)^-1 (P m0 + alpha X t) and (P + alpha X X^T)^-1,
// were worked out separately and are written here.
TEST(DenseKernels, ConditioningOnOneOrTwoRatingsGivesTheExactConditional) {
    Mat3 precision;
    precision << 2.0, 0.3, -0.2, 0.3, 1.5, 0.4, -0.2, 0.4, 1.0;
    const Vec3 m0(0.1, -0.2, 0.3);
    const double alpha = 2.5;
    const Vec3 x[2] = {Vec3(1.0, 0.5, -1.2), Vec3(1.0, -0.8, 0.3)};
    const double t[2] = {0.7, -0.4};
    Mat3 factor = precision;
    CholeskyInPlace<3>(factor.data(), 3);
    const Mat3 covariance = precision.inverse();

    struct Expected {
        Vec3 mean;
        Mat3 covariance;
    } expected[2];
    expected[0].mean << 0.202860061287, 0.059856996936, -0.257609805924;
    expected[0].covariance << 0.514630775701, -0.216908009373, 0.306134711290, -0.216908009373, 0.628492459292,
        -0.000600853212, 0.306134711290, -0.000600853212, 0.430210899477;
    expected[1].mean << 0.005363580774, 0.242132183396, -0.367924251882;
    expected[1].covariance << 0.192149063022, 0.080719645337, 0.126008000306, 0.080719645337, 0.353803330064,
        0.165643272991, 0.126008000306, 0.165643272991, 0.329598583385;

    for (int n = 1; n <= 2; ++n) {
        SCOPED_TRACE(n);
        const Expected& want = expected[n - 1];
        Vec3 z, mean;
        ConditionOnFew<3>(factor, covariance, m0, x, t, n, alpha, nullptr, z, mean);
        EXPECT_LT((mean - want.mean).cwiseAbs().maxCoeff(), 1e-10);
        EXPECT_EQ(z, mean); // no random source: the mean

        // Draws: their mean and covariance within four standard errors of the conditional's.
        CRandom random(11);
        constexpr int kDraws = 200000;
        Vec3 sum = Vec3::Zero();
        Mat3 squares = Mat3::Zero();
        for (int i = 0; i < kDraws; ++i) {
            ConditionOnFew<3>(factor, covariance, m0, x, t, n, alpha, &random, z, mean);
            const Vec3 centred = z - want.mean;
            sum += centred;
            squares += centred * centred.transpose();
        }
        const Vec3 drawnMean = sum / kDraws;
        const Mat3 drawnCovariance = squares / kDraws - drawnMean * drawnMean.transpose();
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(drawnMean(i), 0.0, 4.0 * std::sqrt(want.covariance(i, i) / kDraws)) << i;
            for (int k = 0; k < 3; ++k) {
                // The variance of a product of two correlated normals: s_ii s_kk + s_ik^2.
                const double spread = std::sqrt(
                    (want.covariance(i, i) * want.covariance(k, k) + want.covariance(i, k) * want.covariance(i, k)) /
                    kDraws);
                EXPECT_NEAR(drawnCovariance(i, k), want.covariance(i, k), 4.0 * spread) << i << ", " << k;
            }
        }
    }
}

// The Gram kernel of long rows: the lower triangle of X X^T, summed over the columns in order like a plain loop.
TEST(DenseKernels, GramInPacketsSumsTheLowerTriangleOfEveryBlock) {
    // Six rows padded to two packets, three columns; the sums worked out by hand.
    const float x[3][8] = {{1, 2, 0, -1, 3, 1, 0, 0}, {1, -1, 2, 0, 1, -2, 0, 0}, {1, 0, 1, 2, -1, 1, 0, 0}};
    const float lower[6][6] = {{3}, {1, 5}, {3, -2, 5}, {1, -2, 2, 5}, {3, 5, 1, -5, 11}, {0, 4, -3, 1, 0, 6}};
    float out[8 * 8] = {};
    GramLowerInPackets<2>(&x[0][0], 3, out);
    for (int i = 0; i < 6; ++i) {
        for (int b = 0; b <= i; ++b) {
            EXPECT_EQ(out[b * 8 + i], lower[i][b]) << i << ", " << b;
        }
    }

    // Rank 10 (eleven rows in three packets) and rank 20 (six packets, blocks of three on and below the diagonal):
    // the same bits as a plain loop over the columns. Rank 10 goes to the 8-float kernel where the processor has
    // one, so the 4-float kernel is also run by name (packets 3 again, below as 4).
    for (const int kernel : {3, 4, 6}) {
        const int packets = kernel == 4 ? 3 : kernel;
        const int stride = 4 * packets, d = stride - 1;
        std::vector<float> columns(static_cast<std::size_t>(stride) * 50, 0.0f);
        CRandom random(5);
        for (int j = 0; j < 50; ++j) {
            for (int i = 0; i < d; ++i) {
                columns[static_cast<std::size_t>(j * stride + i)] = static_cast<float>(random.Normal());
            }
        }
        std::vector<float> got(static_cast<std::size_t>(stride * stride), 0.0f);
        if (kernel == 3) {
            GramLowerInPackets<3>(columns.data(), 50, got.data());
        } else if (kernel == 4) {
            detail::GramBlock<3, 0, 0>(columns.data(), 50, got.data());
        } else {
            GramLowerInPackets<6>(columns.data(), 50, got.data());
        }
        for (int b = 0; b < d; ++b) {
            for (int i = b; i < d; ++i) {
                float sum = 0.0f;
                for (int j = 0; j < 50; ++j) {
                    sum += columns[static_cast<std::size_t>(j * stride + b)] *
                           columns[static_cast<std::size_t>(j * stride + i)];
                }
                EXPECT_EQ(got[static_cast<std::size_t>(b * stride + i)], sum) << kernel << ": " << i << ", " << b;
            }
        }
    }
}

} // namespace
} // namespace quillory::model
