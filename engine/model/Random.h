#pragma once

#include <cstdint>

namespace quillory::model {

// A small, fully specified random source (xoshiro256** seeded by splitmix64) with normal and gamma variates of our
// own, so that training draws the same numbers with every compiler and standard library.
class CRandom {
public:
    explicit CRandom(std::uint64_t seed);

    // 64 random bits.
    std::uint64_t Next();
    // Uniform on (0, 1), never exactly 0 or 1.
    double Uniform();
    // Standard normal.
    double Normal();
    // Gamma with this shape (> 0) and scale 1.
    double Gamma(double shape);

private:
    std::uint64_t m_state[4];
};

} // namespace quillory::model
