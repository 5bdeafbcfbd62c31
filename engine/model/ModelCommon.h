#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <Eigen/Core>

// Small definitions every part of the model shares.
namespace quillory::model {

using Matrix = Eigen::MatrixXd;
using Vector = Eigen::VectorXd;

// A prediction on the rating scale; NaN (which no sound model yields) becomes the middle of the scale.
inline double Clamp(double value) {
    if (std::isnan(value)) {
        return 3.0;
    }
    return std::clamp(value, 1.0, 5.0);
}

// The rows' ratings point all over the other side's columns, which outgrow the nearer caches on large data: each
// loop asks for the column it will need a few ratings ahead, so that the fetch overlaps the arithmetic.
constexpr int kPrefetchAhead = 6;

inline void PrefetchColumn(const Matrix& matrix, std::uint32_t column) {
    const double* start = matrix.data() + static_cast<Eigen::Index>(column) * matrix.rows();
    __builtin_prefetch(start);
    __builtin_prefetch(start + matrix.rows() - 1);
}

} // namespace quillory::model
