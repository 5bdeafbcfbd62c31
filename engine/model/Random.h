#pragma once

#include <cstdint>

namespace quillory::model {

// One step of splitmix64: a cheap, well-mixed 64-bit sequence from any start, for splits and seeds.
inline std::uint64_t SplitMix(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

// A small, fully specified random source (xoshiro256** seeded by splitmix64) with normal and gamma variates of our
// own, so that training draws the same numbers with every compiler and standard library.
class CRandom {
public:
    explicit CRandom(std::uint64_t seed);

    // 64 random bits.
    std::uint64_t Next() {
        const std::uint64_t result = Rotl(m_state[1] * 5, 7) * 9;
        const std::uint64_t t = m_state[1] << 17;
        m_state[2] ^= m_state[0];
        m_state[3] ^= m_state[1];
        m_state[1] ^= m_state[2];
        m_state[0] ^= m_state[3];
        m_state[2] ^= t;
        m_state[3] = Rotl(m_state[3], 45);
        return result;
    }
    // Uniform on (0, 1), never exactly 0 or 1.
    double Uniform();
    // Standard normal, by a ziggurat of 256 layers: one 64-bit draw gives the layer (8 bits), the sign (1 bit) and
    // the position in the layer (53 bits), and about 99% of draws end at the first test, here; the rest go on in
    // NormalBeyond.
    double Normal() {
        const std::uint64_t bits = Next();
        const auto layer = static_cast<unsigned>(bits & 0xff);
        const double x = static_cast<double>(bits >> 11) * 0x1.0p-53 * m_edge[layer];
        if (x < m_edge[layer + 1]) [[likely]] {
            return (bits & 0x100) != 0 ? -x : x;
        }
        return NormalBeyond(bits, x, layer);
    }
    // Gamma with this shape (> 0) and scale 1.
    double Gamma(double shape);

private:
    static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    double NormalBeyond(std::uint64_t bits, double x, unsigned layer);

    std::uint64_t m_state[4];
    const double* m_edge; // the ziggurat's layer edges, shared by every source
};

// The random source of one row's draw in one step: seeded from the step's seed and the row, not taken from a
// shared stream, so that rows can be drawn in any order, on any thread, and still draw the same numbers.
inline CRandom RowRandom(std::uint64_t stepSeed, std::uint64_t row) {
    std::uint64_t state = stepSeed ^ (row * 0xd1b54a32d192ed03ull);
    return CRandom(SplitMix(state));
}

} // namespace quillory::model
