#include "Random.h"

#include <cmath>

namespace quillory::model {

double CRandom::Uniform() {
    // 53 random bits, shifted by half a step so that neither end is reached.
    return (static_cast<double>(Next() >> 11) + 0.5) * 0x1.0p-53;
}

namespace {

// The ziggurat of the standard normal density f(x) = exp(-x^2 / 2) (Marsaglia and Tsang, 2000): 256 layers of
// equal area v, layer i the rectangle [0, edge[i]] x [f(edge[i]), f(edge[i + 1])]; layer 0 is the base strip below
// f(r) with the tail beyond r, counted as a rectangle of width v / f(r). Built once, by the recurrence
// f(edge[i + 1]) = f(edge[i]) + v / edge[i].
struct Ziggurat {
    static constexpr int kLayers = 256;
    static constexpr double kR = 3.6541528853610088;
    static constexpr double kArea = 0.00492867323399;
    double edge[kLayers + 1];
    double height[kLayers + 1]; // f(edge[i])

    Ziggurat() {
        const double fr = std::exp(-0.5 * kR * kR);
        edge[0] = kArea / fr;
        height[0] = 0.0;
        edge[1] = kR;
        height[1] = fr;
        for (int i = 1; i < kLayers - 1; ++i) {
            height[i + 1] = height[i] + kArea / edge[i];
            edge[i + 1] = std::sqrt(-2.0 * std::log(height[i + 1]));
        }
        edge[kLayers] = 0.0;
        height[kLayers] = 1.0;
    }
};

const Ziggurat& Layers() {
    static const Ziggurat layers;
    return layers;
}

} // namespace

CRandom::CRandom(std::uint64_t seed) : m_edge(Layers().edge) {
    for (auto& s : m_state) {
        s = SplitMix(seed);
    }
}

double CRandom::NormalBeyond(std::uint64_t bits, double x, unsigned layer) {
    const Ziggurat& z = Layers();
    const double sign = (bits & 0x100) != 0 ? -1.0 : 1.0;
    if (layer == 0) {
        // The tail beyond r (Marsaglia, 1964).
        double a, b;
        do {
            a = -std::log(Uniform()) / Ziggurat::kR;
            b = -std::log(Uniform());
        } while (b + b < a * a);
        return sign * (Ziggurat::kR + a);
    }
    // The wedge between the layer's rectangle and the curve; a point above the curve starts over with a fresh draw
    // (about one draw in a hundred, so the chain of retries stays short).
    const double y = z.height[layer] + Uniform() * (z.height[layer + 1] - z.height[layer]);
    if (y < std::exp(-0.5 * x * x)) {
        return sign * x;
    }
    return Normal();
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
        if (u < 1.0 - 0.0331 * x * x * x * x) {
            return d * v;
        }
        if (std::log(u) < 0.5 * x * x + d * (1.0 - v + std::log(v))) {
            return d * v;
        }
    }
}

} // namespace quillory::model
