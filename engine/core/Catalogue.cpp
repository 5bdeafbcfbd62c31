#include "Catalogue.h"

#include <limits>
#include <utility>

#include <fmt/format.h>

#include "EngineErrors.h"
#include "MovieCatalogue.h"

namespace quillory {

CCatalogue::CCatalogue(std::vector<data::MovieRecord> movies, std::vector<std::string> genres)
    : m_movies(std::move(movies)), m_genres(std::move(genres)) {
    m_itemOfMovie.reserve(m_movies.size());
    for (std::size_t i = 0; i < m_movies.size(); ++i) {
        m_itemOfMovie.emplace(m_movies[i].id, static_cast<std::uint32_t>(i));
    }
}

const data::MovieRecord& CCatalogue::At(int number) const {
    if (number < 1 || static_cast<std::size_t>(number) > m_movies.size()) {
        ThrowUsageError(fmt::format("There is no movie number {} in the list: it numbers its movies 1 to {}.", number,
                                    m_movies.size()));
    }
    return m_movies[static_cast<std::size_t>(number) - 1];
}

std::string CCatalogue::GenresOf(int number) const {
    std::string text;
    for (const std::string_view genre : data::GenreNamesOf(At(number).genres, m_genres)) {
        if (!text.empty()) {
            text += ", ";
        }
        text += genre;
    }
    return text;
}

std::uint32_t CCatalogue::FindItem(long movieId) const {
    if (movieId < 0 || movieId > std::numeric_limits<int>::max()) {
        return kNoItem;
    }
    const auto it = m_itemOfMovie.find(static_cast<int>(movieId));
    return it == m_itemOfMovie.end() ? kNoItem : it->second;
}

std::uint32_t CCatalogue::ItemOf(long movieId) const {
    const std::uint32_t item = FindItem(movieId);
    if (item == kNoItem) {
        ThrowUsageError(
            fmt::format("There is no movie with the id {} in the list. Pick a movie from the list.", movieId));
    }
    return item;
}

} // namespace quillory
