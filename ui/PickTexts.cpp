#include "PickTexts.h"

#include <cctype>
#include <ctime>

namespace {

bool IsYearAt(const CString& text, std::size_t at) {
    if (at + 4 > text.size()) {
        return false;
    }
    for (std::size_t i = at; i < at + 4; ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) {
            return false;
        }
    }
    // A run of exactly four digits: not part of a longer number.
    const bool before = at > 0 && std::isdigit(static_cast<unsigned char>(text[at - 1])) != 0;
    const bool after = at + 4 < text.size() && std::isdigit(static_cast<unsigned char>(text[at + 4])) != 0;
    return !before && !after;
}

} // namespace

CString NewcomerNote(long ratingCount) {
    const long missing = MIN_RATINGS_TO_PREDICT - ratingCount;
    return FormatString("Rate movies you have seen: select one and press 1 to 5. %d more %s these picks your own.",
                        missing, missing == 1 ? "rating makes" : "ratings make");
}

CString PersonalNote(long ratingCount) {
    return FormatString("Picked for you from your %d ratings", ratingCount);
}

CString SimilarNote(const CString& title) {
    return FormatString("Liked by the people who liked %s.", title);
}

CString NoSimilarNote(const CString& title) {
    return FormatString("Nobody who liked %s liked other movies often enough to tell what is like it.", title);
}

CString RatingsSummary(long count, double average) {
    if (count == 0) {
        return "No ratings yet.";
    }
    return FormatString("%d %s, average %.2f", count, count == 1 ? "rating" : "ratings", average);
}

CString MovieYear(const MovieItem& movie) {
    const CString& title = movie.title;
    if (title.size() >= 6 && title.back() == ')' && title[title.size() - 6] == '(' &&
        IsYearAt(title, title.size() - 5)) {
        return title.substr(title.size() - 5, 4);
    }
    for (std::size_t at = 0; at + 4 <= movie.releaseDate.size(); ++at) {
        if (IsYearAt(movie.releaseDate, at)) {
            return movie.releaseDate.substr(at, 4);
        }
    }
    return {};
}

CString ListTitle(const MovieItem& movie) {
    return movie.name.empty() ? movie.title : movie.name;
}

CString PredictedStarsText(double predicted) {
    return FormatString("%.1f", predicted);
}

CString StarsText(long stars) {
    return FormatString("%d", stars);
}

CString StarCount(long stars) {
    return FormatString("%d %s", stars, stars == 1 ? "star" : "stars");
}

CString BecauseText(const CString& title, long stars) {
    return title + ", " + StarCount(stars);
}

CString RatedOnText(long long timestamp) {
    if (timestamp == 0) {
        return {};
    }
    const std::time_t time = static_cast<std::time_t>(timestamp);
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) {
        return {};
    }
    return FormatString("%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}
