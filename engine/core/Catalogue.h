#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "MovieRecord.h"

namespace quillory {

// The catalogue as the engine serves it: movies by catalogue number (1 to Count()) for the list, and by movie id
// (through their catalogue index, number - 1) for ratings and predictions.
class CCatalogue {
public:
    CCatalogue() = default;
    // The movies with the genre table their genre sets refer to (see data::GenreSet).
    CCatalogue(std::vector<data::MovieRecord> movies, std::vector<std::string> genres);

    std::size_t Count() const { return m_movies.size(); }
    // The movie with catalogue number `number`; CMException naming the valid numbers for any other.
    const data::MovieRecord& At(int number) const;
    // The genres of the movie with catalogue number `number`, joined by ", " in the table's order (their names'); empty
    // for a movie without genres. CMException as At.
    std::string GenresOf(int number) const;
    // The catalogue index of a movie id; CMException for an id the catalogue lacks.
    std::uint32_t ItemOf(long movieId) const;
    // The catalogue index of a movie id, or kNoItem.
    std::uint32_t FindItem(long movieId) const;

    static constexpr std::uint32_t kNoItem = 0xFFFFFFFFU;

private:
    std::vector<data::MovieRecord> m_movies;
    std::vector<std::string> m_genres; // by bit of data::GenreSet
    std::unordered_map<int, std::uint32_t> m_itemOfMovie;
};

} // namespace quillory
