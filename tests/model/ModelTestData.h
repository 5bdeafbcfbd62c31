#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "RatingModel.h"

namespace quillory::model::test {

// A rank-2 rating matrix with known values: most cells go to training, every seventh cell is withheld.
struct LowRankData {
    std::uint32_t users = 0;
    std::uint32_t items = 0;
    std::vector<Rating> train;
    std::vector<Rating> withheld;
};

LowRankData MakeLowRankData(std::uint32_t users, std::uint32_t items);

// Items come in pairs (2p, 2p + 1) and each user likes or dislikes each pair as a whole, independently of every
// other pair: far beyond what a low rank explains, plain to an item neighbourhood. Every user rates both items of
// half the pairs; for every fifth of those pairs one item is withheld.
LowRankData MakePairedItemData(std::uint32_t users, std::uint32_t pairs);

// Settings that train quickly on the small test data.
ModelSettings QuickSettings();

// Root mean squared error of `predict` over `ratings`.
template <class Predict> double Rmse(const std::vector<Rating>& ratings, Predict predict) {
    double sum = 0.0;
    for (const Rating& r : ratings) {
        const double e = predict(r.user, r.item) - r.value;
        sum += e * e;
    }
    return std::sqrt(sum / static_cast<double>(ratings.size()));
}

} // namespace quillory::model::test
