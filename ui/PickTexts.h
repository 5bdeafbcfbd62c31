#pragma once

#include "CString.h"
#include "MovieTable.h"

// The words of the Top picks, More like this and Your ratings dialogs, one function a line or a cell.

// The line above a newcomer's picks: what to do, and how many more ratings make the picks his own.
CString NewcomerNote(long ratingCount);
// The line above a user's own picks.
CString PersonalNote(long ratingCount);
// The line above the movies like `title`, and the one when there are none.
CString SimilarNote(const CString& title);
CString NoSimilarNote(const CString& title);
// The line above the user's ratings: their count and average (two decimals).
CString RatingsSummary(long count, double average);

// The year a movie came out: the "(1995)" its listed title ends with, else the first four-digit year of its release
// date; empty when neither has one.
CString MovieYear(const MovieItem& movie);
// The title a list shows: the name without its year where the data has one, else the listed title.
CString ListTitle(const MovieItem& movie);
// Stars to one decimal ("4.3"), and whole stars ("5").
CString PredictedStarsText(double predicted);
CString StarsText(long stars);
// A count of stars in words: "1 star", "5 stars".
CString StarCount(long stars);
// The movie behind a pick and the user's stars for it: "Heat (1995), 5 stars".
CString BecauseText(const CString& title, long stars);
// The day a rating was given, in the computer's time zone: "2024-03-09"; empty for an unknown time (0).
CString RatedOnText(long long timestamp);
// What a hidden movie shows in place of stars in Your ratings.
inline constexpr const char* kNotInterestedText = "Not interested";
