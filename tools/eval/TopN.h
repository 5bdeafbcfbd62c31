#pragma once

#include <cstdint>
#include <vector>

#include "RankingModel.h"

namespace quillory::eval {

// What the top-N mode measures and against what.
struct TopNOptions {
    int splits = 5;
    long long seed = 1;
    std::size_t depth = 10;
    std::vector<double> easeLambdas{50.0, 100.0, 200.0, 400.0, 800.0};
    // Above this many movies EASE runs on this many of the most rated ones only.
    std::uint32_t easeItems = 4000;
    model::RankingSettings ranking = model::RankingSettings::Defaults();
};

// Top-N evaluation over seeded random 80/20 splits of `ratings` (1..5 stars): every movie a user has not rated in
// training is a candidate, a held-out rating of 4 or 5 is a hit, users with at least one hit count. Prints
// precision, recall and NDCG at `depth` for the most popular movies, EASE for every penalty of the grid and the
// ranking model, per split and their mean.
void RunTopN(const std::vector<model::Rating>& ratings, std::uint32_t numUsers, std::uint32_t numItems,
             const TopNOptions& options);

} // namespace quillory::eval
