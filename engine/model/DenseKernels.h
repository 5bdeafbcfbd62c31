#pragma once

#include <algorithm>
#include <cmath>

#include "ModelCommon.h"
#include "Random.h"

namespace quillory::model {

// Eigenvalues e and orthonormal eigenvectors (columns of q) of a small symmetric matrix, by cyclic Jacobi
// rotations: simple, deterministic and accurate at the sizes used here.
void SymmetricEigen(const Matrix& a, Matrix& q, Vector& e);

// Small dense kernels for the per-row draws: at rank + 1 of about ten, plain loops of fixed length beat the
// general-purpose paths. Matrices are d x d arrays, a[i * d + k]; N is d when known at compile time, else 0.
template <int N> void CholeskyInPlace(double* a, int d) {
    const int n = N > 0 ? N : d;
    for (int j = 0; j < n; ++j) {
        double diagonal = a[j * n + j];
        for (int k = 0; k < j; ++k) {
            diagonal -= a[j * n + k] * a[j * n + k];
        }
        // The prior keeps the matrix well conditioned; the floor only guards against rounding.
        diagonal = std::sqrt(std::max(diagonal, 1e-12));
        a[j * n + j] = diagonal;
        const double inverse = 1.0 / diagonal;
        for (int i = j + 1; i < n; ++i) {
            double value = a[i * n + j];
            for (int k = 0; k < j; ++k) {
                value -= a[i * n + k] * a[j * n + k];
            }
            a[i * n + j] = value * inverse;
        }
    }
}

// Solves L y = b in place.
template <int N> void SolveLower(const double* l, int d, double* b) {
    const int n = N > 0 ? N : d;
    for (int i = 0; i < n; ++i) {
        double value = b[i];
        for (int k = 0; k < i; ++k) {
            value -= l[i * n + k] * b[k];
        }
        b[i] = value / l[i * n + i];
    }
}

// Solves L^T x = y in place.
template <int N> void SolveUpper(const double* l, int d, double* y) {
    const int n = N > 0 ? N : d;
    for (int i = n - 1; i >= 0; --i) {
        double value = y[i];
        for (int k = i + 1; k < n; ++k) {
            value -= l[k * n + i] * y[k];
        }
        y[i] = value / l[i * n + i];
    }
}

// A draw from the Gaussian conditional of a vector given one or two ratings, without factorising its precision.
// The prior is N(m0, P^-1), given as `factor` (P's Cholesky factor as CholeskyInPlace leaves it) and `covariance`
// (P^-1); rating j says t_j = x_j . v + noise of precision alpha. A draw w from the prior is moved by the ratings,
//     z = w + P^-1 X (X^T P^-1 X + I / alpha)^-1 (t - X^T w - e),  e ~ N(0, I / alpha),
// which is exactly a draw from N((P + alpha X X^T)^-1 (P m0 + alpha X t), (P + alpha X X^T)^-1); the conditional mean
// is the same with m0 for w and no e. The system is 1 x 1 or 2 x 2, so this costs two small products where a
// factorisation of P + alpha X X^T would cost a cube. Sets `mean`, and `z` to a draw (the mean when `random` is
// null). The draw takes d normal variates, then one per rating.
template <int D>
void ConditionOnFew(const Eigen::Matrix<double, D, D>& factor, const Eigen::Matrix<double, D, D>& covariance,
                    const Eigen::Matrix<double, D, 1>& m0, const Eigen::Matrix<double, D, 1>* x, const double* t, int n,
                    double alpha, CRandom* random, Eigen::Matrix<double, D, 1>& z, Eigen::Matrix<double, D, 1>& mean) {
    using Vec = Eigen::Matrix<double, D, 1>;
    constexpr int kFixed = D == Eigen::Dynamic ? 0 : D;
    const auto d = static_cast<int>(m0.size());
    Vec b[2];
    for (int j = 0; j < n; ++j) {
        b[j].noalias() = covariance.lazyProduct(x[j]);
    }
    // S = X^T P^-1 X + I / alpha, applied through its inverse to a residual r: the move P^-1 X S^-1 r.
    const double noise = 1.0 / alpha;
    const double s00 = x[0].dot(b[0]) + noise;
    const double s01 = n == 2 ? x[0].dot(b[1]) : 0.0;
    const double s11 = n == 2 ? x[1].dot(b[1]) + noise : 1.0;
    const double det = s00 * s11 - s01 * s01;
    const auto move = [&](Vec& v, double r0, double r1) {
        if (n == 1) {
            v.noalias() += (r0 / s00) * b[0];
        } else {
            v.noalias() += ((s11 * r0 - s01 * r1) / det) * b[0];
            v.noalias() += ((s00 * r1 - s01 * r0) / det) * b[1];
        }
    };
    mean = m0;
    move(mean, t[0] - x[0].dot(m0), n == 2 ? t[1] - x[1].dot(m0) : 0.0);
    if (!random) {
        z = mean;
        return;
    }
    z.resize(d);
    for (int f = 0; f < d; ++f) {
        z(f) = random->Normal();
    }
    SolveUpper<kFixed>(factor.data(), d, z.data());
    z += m0;
    const double noiseScale = std::sqrt(noise);
    const double r0 = t[0] - x[0].dot(z) - noiseScale * random->Normal();
    const double r1 = n == 2 ? t[1] - x[1].dot(z) - noiseScale * random->Normal() : 0.0;
    move(z, r0, r1);
}

// The lower triangle of X X^T in single precision, for X of `n` columns of 4 * P floats each (a column every
// 4 * P floats, the rows past the dimension zero). The sum is kept in registers: a block of four output columns by
// up to three packets of rows at a time, the columns of X streamed past it once per block, so that a rating costs
// its multiply-adds and no loads or stores of the sum; only blocks on or below the diagonal are summed. Each entry is
// summed over the columns in order, exactly as a plain loop would. Entry (i, b), i >= b, goes to out[b * 4P + i].
namespace detail {

using Packet = float __attribute__((vector_size(16)));

template <int P, int C, int R0> void GramBlock(const float* x, std::size_t n, float* out) {
    constexpr int kRows = P - R0 < 3 ? P - R0 : 3;
    constexpr std::size_t kStride = std::size_t{4} * P;
    Packet sum[kRows][4] = {};
    for (std::size_t j = 0; j < n; ++j) {
        const float* column = x + j * kStride;
        Packet rows[kRows];
        for (int r = 0; r < kRows; ++r) {
            __builtin_memcpy(&rows[r], column + std::size_t{4} * (R0 + r), sizeof(Packet));
        }
        for (int k = 0; k < 4; ++k) {
            const float v = column[4 * C + k];
            const Packet broadcast = {v, v, v, v};
            for (int r = 0; r < kRows; ++r) {
                sum[r][k] += broadcast * rows[r];
            }
        }
    }
    for (int k = 0; k < 4; ++k) {
        for (int r = 0; r < kRows; ++r) {
            __builtin_memcpy(out + (std::size_t{4} * C + k) * kStride + std::size_t{4} * (R0 + r), &sum[r][k],
                             sizeof(Packet));
        }
    }
    if constexpr (R0 + kRows < P) {
        GramBlock<P, C, R0 + kRows>(x, n, out);
    } else if constexpr (C + 1 < P) {
        GramBlock<P, C + 1, C + 1>(x, n, out);
    }
}

#if defined(__x86_64__) || defined(__i386__)
// GramBlock<3, 0, 0>'s sums for processors with 8-float registers (rank 10: columns of 12 floats): output columns
// 0-3 over rows 0-11, then 4-7 over rows 4-11 beside 8-11 over rows 8-11, in two passes over X instead of three.
// Each entry is still summed over the columns in order, a multiply and then an add (no fused multiply-add is
// enabled here), so the sums are the same bits as GramBlock's on any processor.
using Packet8 = float __attribute__((vector_size(32)));

// One pass of GramLower12Wide: output columns C..C+3 over the eight rows from R, beside columns N..N+3 over rows 8-11.
template <int R, int C, int N>
__attribute__((target("avx2"))) inline void GramPass12Wide(const float* x, std::size_t n, float* out) {
    constexpr std::size_t kStride = 12;
    Packet8 wide[4] = {};
    Packet narrow[4] = {};
    for (std::size_t j = 0; j < n; ++j) {
        const float* column = x + j * kStride;
        Packet8 rows;
        Packet rows8to11;
        __builtin_memcpy(&rows, column + R, sizeof(Packet8));
        __builtin_memcpy(&rows8to11, column + 8, sizeof(Packet));
        for (int k = 0; k < 4; ++k) {
            const float v = column[C + k];
            const float w = column[N + k];
            wide[k] += Packet8{v, v, v, v, v, v, v, v} * rows;
            narrow[k] += Packet{w, w, w, w} * rows8to11;
        }
    }
    for (std::size_t k = 0; k < 4; ++k) {
        __builtin_memcpy(out + (C + k) * kStride + R, &wide[k], sizeof(Packet8));
        __builtin_memcpy(out + (N + k) * kStride + 8, &narrow[k], sizeof(Packet));
    }
}

__attribute__((target("avx2"))) inline void GramLower12Wide(const float* x, std::size_t n, float* out) {
    GramPass12Wide<0, 0, 0>(x, n, out);
    GramPass12Wide<4, 4, 8>(x, n, out);
}

inline bool HasWideRegisters() {
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}
#endif

} // namespace detail

template <int P> void GramLowerInPackets(const float* x, std::size_t n, float* out) {
#if defined(__x86_64__) || defined(__i386__)
    if constexpr (P == 3) {
        if (detail::HasWideRegisters()) {
            detail::GramLower12Wide(x, n, out);
            return;
        }
    }
#endif
    detail::GramBlock<P, 0, 0>(x, n, out);
}

} // namespace quillory::model
