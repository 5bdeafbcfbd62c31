#include "TopPicks.h"

#include <algorithm>
#include <cmath>

#include "EngineErrors.h"

namespace quillory {

namespace {

long MovieIdOf(const CCatalogue& catalogue, std::uint32_t item) {
    return catalogue.At(static_cast<int>(item) + 1).id;
}

} // namespace

std::vector<std::pair<std::uint32_t, float>> ModelRatings(const CUserRatings& ratings, std::uint32_t user) {
    std::vector<std::pair<std::uint32_t, float>> out;
    for (const CUserRatings::ItemStars& rating : ratings.Of(user)) {
        out.emplace_back(rating.first, static_cast<float>(rating.second));
    }
    return out;
}

std::vector<MoviePick> RankPicks(const model::CRankingModel& ranking, const model::CRatingModel* predictions,
                                 const CCatalogue& catalogue, const CUserRatings& ratings, std::uint32_t user,
                                 const std::vector<std::uint32_t>& hidden, int count) {
    if (count <= 0) {
        return {};
    }
    // Ranked on his ratings as they are now, entered ones included: a rating just entered leaves the list and moves
    // it at once, with no training.
    const std::vector<std::pair<std::uint32_t, float>> rated = ModelRatings(ratings, user);
    // Asked for as many more as he hides, the list still holds `count` movies once the hidden ones are dropped.
    std::vector<MoviePick> picks;
    for (const model::RankedItem& ranked : ranking.Rank(rated, static_cast<std::size_t>(count) + hidden.size())) {
        if (picks.size() == static_cast<std::size_t>(count)) {
            break;
        }
        if (std::binary_search(hidden.begin(), hidden.end(), ranked.item)) {
            continue;
        }
        MoviePick pick;
        pick.movieId = MovieIdOf(catalogue, ranked.item);
        if (predictions != nullptr) {
            const double predicted = predictions->Predict(user, ranked.item);
            if (!std::isfinite(predicted)) {
                ThrowModelError("No prediction could be computed for this movie: the result was not a number.");
            }
            pick.predicted = std::clamp(predicted, 1.0, 5.0);
        }
        if (ranked.because != model::kNoItem) {
            pick.becauseMovieId = MovieIdOf(catalogue, ranked.because);
            pick.becauseStars = ratings.Stars(user, ranked.because);
        }
        picks.push_back(pick);
    }
    return picks;
}

std::vector<long> SimilarMovies(const model::CRankingModel& ranking, const CCatalogue& catalogue, std::uint32_t item,
                                int count) {
    std::vector<long> movies;
    if (count <= 0) {
        return movies;
    }
    for (const std::uint32_t other : ranking.Similar(item, static_cast<std::size_t>(count))) {
        movies.push_back(MovieIdOf(catalogue, other));
    }
    return movies;
}

} // namespace quillory
