// The bias baseline: global mean plus ridge-regularised user and item biases, fitted by alternating sweeps. It is
// the answer while nothing else is trained, the yardstick of the held-out check, and the fold-in of a user's bias.

#include "RatingModelImpl.h"

namespace quillory::model {

void CRatingModel::Impl::TrainBaseline(std::span<const Rating> ratings) {
    baseUserBias.assign(numUsers, 0.0f);
    baseItemBias.assign(numItems, 0.0f);
    std::vector<double> acc;
    std::vector<std::uint32_t> cnt;
    for (int sweep = 0; sweep < settings.biasSweeps; ++sweep) {
        acc.assign(numItems, 0.0);
        cnt.assign(numItems, 0);
        for (const Rating& r : ratings) {
            acc[r.item] += r.value - mean - baseUserBias[r.user];
            ++cnt[r.item];
        }
        for (std::uint32_t i = 0; i < numItems; ++i) {
            baseItemBias[i] = static_cast<float>(acc[i] / (cnt[i] + settings.biasRegItem));
        }
        acc.assign(numUsers, 0.0);
        cnt.assign(numUsers, 0);
        for (const Rating& r : ratings) {
            acc[r.user] += r.value - mean - baseItemBias[r.item];
            ++cnt[r.user];
        }
        for (std::uint32_t u = 0; u < numUsers; ++u) {
            baseUserBias[u] = static_cast<float>(acc[u] / (cnt[u] + settings.biasRegUser));
        }
    }
}

float CRatingModel::Impl::SolveBaseBias(UserRatings ratings) const {
    double acc = 0.0;
    std::size_t count = 0;
    for (const auto& [item, value] : ratings) {
        if (item >= numItems) {
            continue;
        }
        acc += value - mean - baseItemBias[item];
        ++count;
    }
    return static_cast<float>(acc / (static_cast<double>(count) + settings.biasRegUser));
}

} // namespace quillory::model
