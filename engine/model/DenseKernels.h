#pragma once

#include <algorithm>
#include <cmath>

#include "ModelCommon.h"

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
        for (int k = 0; k < j; ++k)
            diagonal -= a[j * n + k] * a[j * n + k];
        // The prior keeps the matrix well conditioned; the floor only guards against rounding.
        diagonal = std::sqrt(std::max(diagonal, 1e-12));
        a[j * n + j] = diagonal;
        const double inverse = 1.0 / diagonal;
        for (int i = j + 1; i < n; ++i) {
            double value = a[i * n + j];
            for (int k = 0; k < j; ++k)
                value -= a[i * n + k] * a[j * n + k];
            a[i * n + j] = value * inverse;
        }
    }
}

// Solves L y = b in place.
template <int N> void SolveLower(const double* l, int d, double* b) {
    const int n = N > 0 ? N : d;
    for (int i = 0; i < n; ++i) {
        double value = b[i];
        for (int k = 0; k < i; ++k)
            value -= l[i * n + k] * b[k];
        b[i] = value / l[i * n + i];
    }
}

// Solves L^T x = y in place.
template <int N> void SolveUpper(const double* l, int d, double* y) {
    const int n = N > 0 ? N : d;
    for (int i = n - 1; i >= 0; --i) {
        double value = y[i];
        for (int k = i + 1; k < n; ++k)
            value -= l[k * n + i] * y[k];
        y[i] = value / l[i * n + i];
    }
}

} // namespace quillory::model
