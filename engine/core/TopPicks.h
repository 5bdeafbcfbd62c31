#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "Catalogue.h"
#include "MovieTable.h"
#include "RankingModel.h"
#include "RatingModel.h"
#include "UserRatings.h"

namespace quillory {

// Every rating the user has now, data files and store, as the models take them: (catalogue index, stars).
std::vector<std::pair<std::uint32_t, float>> ModelRatings(const CUserRatings& ratings, std::uint32_t user);

// Up to `count` movies for the user, best first, ranked on every rating he has now, with the movie he rated that
// supports each most (0 and 0 for none), never one of `hidden` (catalogue indices, sorted), and `count` of them while
// that many unrated movies outside `hidden` exist. With `predictions`, whose fold-in of the user is up to date, each
// pick's predicted rating within 1 to 5; without, 0. Empty for a count of 0 or less.
std::vector<MoviePick> RankPicks(const model::CRankingModel& ranking, const model::CRatingModel* predictions,
                                 const CCatalogue& catalogue, const CUserRatings& ratings, std::uint32_t user,
                                 const std::vector<std::uint32_t>& hidden, int count);

// Up to `count` movie ids most alike the movie at catalogue index `item`, most alike first. Empty for a count of 0
// or less.
std::vector<long> SimilarMovies(const model::CRankingModel& ranking, const CCatalogue& catalogue, std::uint32_t item,
                                int count);

} // namespace quillory
