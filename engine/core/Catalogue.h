#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "MovieRecord.h"

namespace quillory {

// The catalogue as the engine serves it: movies by catalogue number (1 to Count()) for the list, and by movie id
// (through their catalogue index, number - 1) for ratings and predictions.
class CCatalogue {
public:
    CCatalogue() = default;
    explicit CCatalogue(std::vector<data::MovieRecord> movies);

    std::size_t Count() const { return m_movies.size(); }
    // The movie with catalogue number `number`; CMException naming the valid numbers for any other.
    const data::MovieRecord& At(int number) const;
    // The catalogue index of a movie id; CMException for an id the catalogue lacks.
    std::uint32_t ItemOf(long movieId) const;
    // The catalogue index of a movie id, or kNoItem.
    std::uint32_t FindItem(long movieId) const;

    static constexpr std::uint32_t kNoItem = 0xFFFFFFFFU;

private:
    std::vector<data::MovieRecord> m_movies;
    std::unordered_map<int, std::uint32_t> m_itemOfMovie;
};

} // namespace quillory
