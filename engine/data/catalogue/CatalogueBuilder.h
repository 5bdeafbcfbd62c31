#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "GenreTable.h"
#include "MovieCatalogue.h"
#include "MovieRecord.h"

namespace quillory::data {

class CTextFile;

// Collects a catalogue's movies as a reader finds them, in file order, and the genres they have. Refuses a second
// movie with the same id and a movie without a title, naming the file's current line; fills in each movie's name
// and, where the data gives no release date, the year of its title.
class CCatalogueBuilder {
public:
    // The genre table the movies' genre sets are read into.
    CGenreTable& Genres() { return m_genres; }
    void Add(const CTextFile& file, MovieRecord movie);
    // The movies added, in order, with their genre table in its final order; the builder is empty afterwards.
    MovieCatalogue Take();

private:
    std::vector<MovieRecord> m_movies;
    CGenreTable m_genres;
    std::unordered_map<int, std::uint32_t> m_lineOfId; // where each id was first listed
};

} // namespace quillory::data
