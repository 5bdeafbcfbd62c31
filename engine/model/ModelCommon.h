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

} // namespace quillory::model
