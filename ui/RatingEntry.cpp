#include "RatingEntry.h"

#include "CString.h"
#include "WaitCursor.h"

RatingEntryResult EnterRating(CMovieTable& table, long movieId, long rating) {
    long userId = table.GetCurrentUserID();
    if (table.GetRating(movieId, userId, CString()) != 0) {
        return RatingEntryResult::AlreadyRated;
    }
    {
        CWaitCursor wait;
        userId = table.GetCurrentUserID();
        table.SetNewRating(movieId, userId, rating);
    }
    userId = table.GetCurrentUserID();
    double average = 0.0;
    long count = 0;
    table.GetInfo(userId, average, count);
    // The rating that first makes predictions possible asks the engine to take the user's ratings in.
    if (count == MIN_RATINGS_TO_PREDICT) {
        table.SetRefresh(true);
    }
    return RatingEntryResult::Stored;
}
