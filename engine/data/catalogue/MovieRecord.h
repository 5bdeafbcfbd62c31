#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillory::data {

// A movie's genres: a bit set over its catalogue's genre table (MovieCatalogue::genres, kept as DataSet::genres).
// Bit i is set when the movie has the table's genre i; no bit set, the movie has no genres. The table lists each
// genre some movie of the catalogue has, once, sorted by the bytes of its name (UTF-8), so that a movie's genres
// read from bit 0 upwards come in that order; it holds at most kMaxGenres names. Eight bytes a movie and one short
// table, where a list of names would cost each movie a vector and its strings.
using GenreSet = std::uint64_t;
inline constexpr std::size_t kMaxGenres = 64;

// One movie of the catalogue, in catalogue order (catalogue number = position + 1).
struct MovieRecord {
    int id = 0;              // the movie id of the data files; ratings refer to it
    std::string title;       // as listed, UTF-8, e.g. "Usual Suspects, The (1995)"
    std::string name;        // without the trailing year, leading article restored: "The Usual Suspects"
    std::string releaseDate; // the date the data gives, else the year from the title, else empty
    std::string url;         // as given, or built from the ids
    GenreSet genres = 0;     // see GenreSet
};

} // namespace quillory::data
