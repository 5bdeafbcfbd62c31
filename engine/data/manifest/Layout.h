#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "CatalogueReaders.h"
#include "StarScale.h"

namespace quillory::data {

// The three layouts of data files the engine reads (see docs/data-files.md).
enum class Layout { MovieLens100k, MovieLensCsv, MovieTweetings };

// What the engine needs to know of a layout. Every part of the data layer that reads a layout's files or checks a
// manifest asks this, never the layout's name: a fourth layout is one more entry in kLayouts (and a case wherever a
// switch over Layout chooses compiled code for it).
struct LayoutDescription {
    Layout layout;
    std::string_view format;                 // its name in a manifest's "format" line
    CatalogueReader readCatalogue;           // the reader of its movies file
    bool needsLinks;                         // a manifest in this layout must name a links file, and no other may
    std::string_view ratingSeparator;        // between the fields of a ratings line
    std::array<std::string_view, 4> columns; // a ratings line's fields, as messages name them (and a CSV header has)
    bool csvRatings;                         // the ratings file is CSV: a header line, and fields may be quoted
    RatingScale scale;                       // what a rating's field holds
};

inline constexpr std::array<LayoutDescription, 3> kLayouts{{
    {Layout::MovieLens100k,
     "movielens-100k",
     &LoadMovies100k,
     false,
     "\t",
     {"user", "movie", "rating", "timestamp"},
     false,
     RatingScale::OneToFive},
    {Layout::MovieLensCsv,
     "movielens-csv",
     &LoadMoviesCsv,
     true,
     ",",
     {"userId", "movieId", "rating", "timestamp"},
     true,
     RatingScale::HalfStars},
    {Layout::MovieTweetings,
     "movietweetings",
     &LoadMoviesTweetings,
     false,
     "::",
     {"user", "movie", "rating", "timestamp"},
     false,
     RatingScale::ZeroToTen},
}};

// The description of `layout`; usable at compile time, so that the ratings parser's inner loop is compiled for each.
constexpr const LayoutDescription& Describe(Layout layout) {
    return kLayouts[static_cast<std::size_t>(layout)];
}

// The layout a manifest's format names; nullptr for a format that is none of them.
const LayoutDescription* FindLayout(std::string_view format);

// The formats of the layouts for which `which` holds, as a message lists them: "a, b or c".
std::string FormatsText(bool (*which)(const LayoutDescription&) = nullptr);

} // namespace quillory::data
