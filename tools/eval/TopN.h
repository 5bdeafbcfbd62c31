#pragma once

#include <cstdint>
#include <vector>

#include "ImplicitAls.h"
#include "RankingModel.h"

namespace quillory::eval {

// What the top-N mode measures and against what.
struct TopNOptions {
    int splits = 5;
    long long seed = 1;
    std::size_t depth = 10;
    // EASE's penalties, tried on each split's validation ratings.
    std::vector<double> easeLambdas{50.0, 100.0, 200.0, 400.0, 800.0, 1600.0};
    // Above this many movies EASE runs on this many of the most rated ones only.
    std::uint32_t easeItems = 4000;
    // The ranking model's settings tried on validation; the first is the one it ships with.
    std::vector<model::RankingSettings> rankings{model::RankingSettings::Defaults()};
    // At most this many users are scored in each validation and test (a seeded sample), so that large data can be
    // measured in reasonable time; 0 for all.
    std::uint32_t scoredUsers = 0;
    // Also the ranking model as it was before it had factors: its links alone, with the settings it ships with.
    bool linksAlone = false;
    // Implicit ALS's settings tried on validation; none leaves it out.
    std::vector<ImplicitAlsSettings> ials;
    std::vector<double> ialsBlends{0.0};
};

// Top-N evaluation over seeded random 80/20 splits of `ratings` (1..5 stars): every movie a user has not rated in
// training is a candidate, a held-out rating of 4 or 5 is a hit, users with at least one hit count. Each split's
// training ratings are cut 80/20 again into fitting and validation ratings; each method's settings are chosen by
// NDCG at `depth` on the validation ratings, refitted on all the training ratings and scored on the test. Prints,
// per split and as mean and spread, precision, recall and NDCG at `depth` for the most popular movies, EASE and the
// ranking model, with the settings each chose.
void RunTopN(const std::vector<model::Rating>& ratings, std::uint32_t numUsers, std::uint32_t numItems,
             const TopNOptions& options);

} // namespace quillory::eval
