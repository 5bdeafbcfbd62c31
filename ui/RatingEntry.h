#pragma once

#include "MovieTable.h"

// The refusal of a second rating of the same movie, wherever the user rates.
inline constexpr const char* kAlreadyRatedText = "The movie is already rated by you.\nPick a different movie please.";

enum class RatingEntryResult {
    AlreadyRated, // nothing stored: a rating is never overwritten
    Stored,
};

// Stores the current user's rating (1 to 5, checked by the caller) of a movie, by the one set of rules the Rate
// button and the movie lists share: a movie he rated already is refused; the rating is stored under the wait
// cursor; the rating that brings his count to MIN_RATINGS_TO_PREDICT asks the engine to take his ratings in.
// Engine failures leave as CMException.
RatingEntryResult EnterRating(CMovieTable& table, long movieId, long rating);
