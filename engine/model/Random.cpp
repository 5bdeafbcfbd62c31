#include "Random.h"

#include <cmath>

namespace quillory::model {

namespace {

std::uint64_t SplitMix(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

std::uint64_t Rotl(std::uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

} // namespace

CRandom::CRandom(std::uint64_t seed) {
    for (auto& s : m_state)
        s = SplitMix(seed);
}

std::uint64_t CRandom::Next() {
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

double CRandom::Uniform() {
    // 53 random bits, shifted by half a step so that neither end is reached.
    return (static_cast<double>(Next() >> 11) + 0.5) * 0x1.0p-53;
}

double CRandom::Normal() {
    if (m_hasSpare) {
        m_hasSpare = false;
        return m_spareNormal;
    }
    // Marsaglia's polar method: two normals per accepted pair.
    double u, v, s;
    do {
        u = 2.0 * Uniform() - 1.0;
        v = 2.0 * Uniform() - 1.0;
        s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    const double factor = std::sqrt(-2.0 * std::log(s) / s);
    m_spareNormal = v * factor;
    m_hasSpare = true;
    return u * factor;
}

double CRandom::Gamma(double shape) {
    if (shape < 1.0) {
        // Boost the shape above one and scale back (Marsaglia and Tsang).
        return Gamma(shape + 1.0) * std::pow(Uniform(), 1.0 / shape);
    }
    const double d = shape - 1.0 / 3.0;
    const double c = 1.0 / std::sqrt(9.0 * d);
    for (;;) {
        double x, v;
        do {
            x = Normal();
            v = 1.0 + c * x;
        } while (v <= 0.0);
        v = v * v * v;
        const double u = Uniform();
        if (u < 1.0 - 0.0331 * x * x * x * x)
            return d * v;
        if (std::log(u) < 0.5 * x * x + d * (1.0 - v + std::log(v)))
            return d * v;
    }
}

} // namespace quillory::model
