#include "ModelTestData.h"

#include <algorithm>

namespace quillory::model::test {

LowRankData MakeLowRankData(std::uint32_t users, std::uint32_t items) {
    LowRankData data;
    data.users = users;
    data.items = items;
    for (std::uint32_t u = 0; u < users; ++u) {
        // Two tastes per user and two traits per item, on a fixed pattern.
        const double a = std::sin(0.7 * u + 0.3), b = std::cos(1.3 * u);
        for (std::uint32_t i = 0; i < items; ++i) {
            const double p = std::cos(0.9 * i), q = std::sin(0.4 * i + 1.0);
            const double value = std::clamp(3.0 + 1.0 * a * p + 0.8 * b * q + 0.2 * std::sin(0.5 * i), 1.0, 5.0);
            const Rating r{u, i, static_cast<float>(value)};
            ((u * items + i) % 7 == 3 ? data.withheld : data.train).push_back(r);
        }
    }
    return data;
}

LowRankData MakePairedItemData(std::uint32_t users, std::uint32_t pairs) {
    LowRankData data;
    data.users = users;
    data.items = 2 * pairs;
    std::uint64_t state = 987654321;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    for (std::uint32_t u = 0; u < users; ++u) {
        std::uint32_t rated = 0;
        for (std::uint32_t p = 0; p < pairs; ++p) {
            if (next() < 0.5) {
                continue;
            }
            const double taste = next() < 0.5 ? -1.2 : 1.2;
            for (std::uint32_t i = 2 * p; i < 2 * p + 2; ++i) {
                const double value = std::clamp(3.2 + taste + 0.3 * (next() - 0.5), 1.0, 5.0);
                const Rating r{u, i, static_cast<float>(value)};
                (rated % 5 == 0 && i == 2 * p + 1 ? data.withheld : data.train).push_back(r);
            }
            ++rated;
        }
    }
    return data;
}

ModelSettings QuickSettings() {
    ModelSettings settings = ModelSettings::Defaults();
    settings.factors = 4;
    settings.burnIn = 20;
    settings.samples = 20;
    return settings;
}

} // namespace quillory::model::test
