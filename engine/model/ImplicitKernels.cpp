// The implicit-feedback kernels of the sampler: each user's implicit part (the scaled sum of the vectors of the items
// he rated) and the item-by-item draw of those vectors through their raters' residuals.

#include "ImplicitKernels.h"

#include <algorithm>
#include <cmath>

#include "RatingRows.h"
#include "ThreadPool.h"

namespace quillory::model {

namespace {

// ComputeImplicitPart for a dimension D known at compile time (Eigen::Dynamic: any).
template <int D>
void ComputeImplicitPartOf(CThreadPool& pool, const Rows& byUser, const std::vector<double>& scale, const Matrix& y,
                           Matrix& out) {
    using Column = Eigen::Matrix<double, D, 1>;
    constexpr std::size_t kUsersPerChunk = 256;
    const Eigen::Index d = out.rows();
    const auto users = static_cast<std::size_t>(out.cols());
    pool.Run((users + kUsersPerChunk - 1) / kUsersPerChunk, [&](std::size_t chunk, unsigned) {
        const std::size_t last = std::min(users, (chunk + 1) * kUsersPerChunk);
        Column sum(d);
        for (std::size_t u = chunk * kUsersPerChunk; u < last; ++u) {
            sum.setZero();
            for (std::size_t k = byUser.start[u]; k < byUser.start[u + 1]; ++k) {
                sum += Eigen::Map<const Column>(y.data() + static_cast<Eigen::Index>(byUser.index[k]) * d, d);
            }
            Eigen::Map<Column>(out.data() + static_cast<Eigen::Index>(u) * d, d) = sum * scale[u];
        }
    });
}

// The implicit step's work on item j's raters u, each with weight f_u = scale[u]: gathers sum += f_u residual_u
// (returning the sum of f_u^2), or with `spread`, applies the change: residual_u -= f_u change.
template <int D>
double ForRatersOf(const Rows& byItem, std::uint32_t j, const std::vector<double>& scale, Matrix& residual,
                   Eigen::Matrix<double, D, 1>& vector, bool spread) {
    using Column = Eigen::Matrix<double, D, 1>;
    const Eigen::Index d = residual.rows();
    double squares = 0.0;
    const std::size_t end = byItem.start[j + 1];
    for (std::size_t k = byItem.start[j]; k < end; ++k) {
        const std::uint32_t u = byItem.index[k];
        if (k + kPrefetchAhead < end) {
            PrefetchColumn(residual, byItem.index[k + std::size_t{kPrefetchAhead}]);
        }
        const double f = scale[u];
        Eigen::Map<Column> column(residual.data() + static_cast<Eigen::Index>(u) * d, d);
        if (spread) {
            column.noalias() -= f * vector;
        } else {
            squares += f * f;
            vector.noalias() += f * column;
        }
    }
    return squares;
}

// DrawImplicit for a dimension D known at compile time: the common ranks get vectors and matrices of fixed size,
// which the compiler unrolls. With Lambda = Q diag(e) Q^T, the conditional mean of y_j is
// Q diag(e / (c e + lambda)) Q^T s and a draw adds Q diag((c e + lambda)^-1/2) z.
template <int D>
double DrawImplicitOf(const Rows& byItem, const std::vector<double>& scale, const Matrix& eigenvectors,
                      const Vector& eigenvalues, double implicitPrecision, const Matrix& noise, Matrix& residual,
                      Matrix& implicitY) {
    using Vec = Eigen::Matrix<double, D, 1>;
    using Mat = Eigen::Matrix<double, D, D>;
    const Eigen::Index d = residual.rows();
    // Copies of fixed size where D is known, so that the loop below unrolls; a plain copy where it is not.
    const Mat q = eigenvectors; // NOLINT(performance-unnecessary-copy-initialization)
    const Vec e = eigenvalues;  // NOLINT(performance-unnecessary-copy-initialization)
    Vec sum(d), rotated(d), drawn(d);
    double squares = 0.0;
    const auto items = static_cast<std::uint32_t>(implicitY.cols());
    for (std::uint32_t j = 0; j < items; ++j) {
        if (byItem.Count(j) == 0) {
            continue;
        }
        Eigen::Map<Vec> y(implicitY.data() + static_cast<Eigen::Index>(j) * d, d);
        sum.setZero();
        const double c = ForRatersOf<D>(byItem, j, scale, residual, sum, false);
        sum.noalias() += c * y;
        rotated.noalias() = q.transpose().lazyProduct(sum);
        for (Eigen::Index f = 0; f < d; ++f) {
            const double precision = c * e(f) + implicitPrecision;
            rotated(f) = (rotated(f) * e(f) + noise(f, j) * std::sqrt(precision)) / precision;
        }
        drawn.noalias() = q.lazyProduct(rotated);
        sum = drawn - y; // the change, applied to the raters' residuals
        ForRatersOf<D>(byItem, j, scale, residual, sum, true);
        y = drawn;
        squares += drawn.squaredNorm();
    }
    return squares;
}

} // namespace

void ComputeImplicitPart(CThreadPool& pool, const Rows& byUser, const std::vector<double>& scale, const Matrix& y,
                         Matrix& out) {
    switch (out.rows()) {
    case 6:
        return ComputeImplicitPartOf<6>(pool, byUser, scale, y, out);
    case 11:
        return ComputeImplicitPartOf<11>(pool, byUser, scale, y, out);
    case 21:
        return ComputeImplicitPartOf<21>(pool, byUser, scale, y, out);
    default:
        return ComputeImplicitPartOf<Eigen::Dynamic>(pool, byUser, scale, y, out);
    }
}

double DrawImplicit(const Rows& byItem, const std::vector<double>& scale, const Matrix& q, const Vector& e,
                    double implicitPrecision, const Matrix& noise, Matrix& residual, Matrix& implicitY) {
    switch (residual.rows()) {
    case 6:
        return DrawImplicitOf<6>(byItem, scale, q, e, implicitPrecision, noise, residual, implicitY);
    case 11:
        return DrawImplicitOf<11>(byItem, scale, q, e, implicitPrecision, noise, residual, implicitY);
    case 21:
        return DrawImplicitOf<21>(byItem, scale, q, e, implicitPrecision, noise, residual, implicitY);
    default:
        return DrawImplicitOf<Eigen::Dynamic>(byItem, scale, q, e, implicitPrecision, noise, residual, implicitY);
    }
}

} // namespace quillory::model
