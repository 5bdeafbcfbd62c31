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

ModelSettings QuickSettings() {
    ModelSettings settings = ModelSettings::Defaults();
    settings.factors = 4;
    settings.burnIn = 20;
    settings.samples = 20;
    return settings;
}

} // namespace quillory::model::test
