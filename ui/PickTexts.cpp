#include "PickTexts.h"

#include "MovieTable.h"

CString PickRowText(const CString& title, double predicted, const CString& becauseTitle, long becauseStars) {
    CString row = FormatString("%s — %.1f", title, predicted);
    if (!becauseTitle.empty()) {
        row += FormatString(" — because you rated %s %d", becauseTitle, becauseStars);
    }
    return row;
}

CString NewcomerNote(long ratingCount) {
    const long missing = MIN_RATINGS_TO_PREDICT - ratingCount;
    return FormatString("Rate %d more %s to make these picks your own.", missing, missing == 1 ? "movie" : "movies");
}

CString SimilarNote(const CString& title) {
    return FormatString("Liked by the people who liked %s.", title);
}

CString RatingRowText(const CString& title, long stars) {
    return FormatString("%s — %d", title, stars);
}

CString RatingsSummary(long count, double average) {
    if (count == 0) {
        return "No ratings yet.";
    }
    return FormatString("%d %s, average %f", count, count == 1 ? "rating" : "ratings", average);
}
