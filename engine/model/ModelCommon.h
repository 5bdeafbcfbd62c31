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
    if (std::isnan(value))
        return 3.0;
    return std::clamp(value, 1.0, 5.0);
}

// One step of splitmix64: a cheap, well-mixed 64-bit sequence from any start, for splits and seeds.
inline std::uint64_t SplitMix(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

} // namespace quillory::model
