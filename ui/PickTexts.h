#pragma once

#include "CString.h"

// The words of the Top picks, More like this and Your ratings dialogs, one function a line.

// A pick's row: the title as the movie list shows it, the predicted rating to one decimal and, when the pick has a
// reason (an empty `becauseTitle` means none), the movie behind it with the user's stars:
// "Jumanji (1995) — 4.3 — because you rated Toy Story (1995) 5".
CString PickRowText(const CString& title, double predicted, const CString& becauseTitle, long becauseStars);
// The line above a newcomer's picks: how many more ratings make them his own.
CString NewcomerNote(long ratingCount);
// The line above the movies like `title`.
CString SimilarNote(const CString& title);
// A rated movie's row: its title and the user's stars.
CString RatingRowText(const CString& title, long stars);
// The line above the user's ratings: their count and average, the average written as GetInfo writes it.
CString RatingsSummary(long count, double average);
