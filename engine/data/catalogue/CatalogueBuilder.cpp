#include "CatalogueBuilder.h"

#include <utility>

#include <fmt/format.h>

#include "MovieTitle.h"
#include "TextFile.h"

namespace quillory::data {

void CCatalogueBuilder::Add(const CTextFile& file, MovieRecord movie) {
    const auto [it, added] = m_lineOfId.emplace(movie.id, file.LineNumber());
    if (!added) {
        file.Fail(fmt::format("the movie id {} is listed a second time (first on line {}); expected unique ids.",
                              movie.id, it->second));
    }
    if (movie.title.empty()) {
        file.Fail("expected a title, found an empty field.");
    }
    movie.name = MovieNameOf(movie.title);
    if (movie.releaseDate.empty()) {
        movie.releaseDate = YearOf(movie.title);
    }
    m_movies.push_back(std::move(movie));
}

MovieCatalogue CCatalogueBuilder::Take() {
    m_lineOfId.clear();
    MovieCatalogue catalogue;
    catalogue.genres = m_genres.Finish(m_movies);
    catalogue.movies = std::move(m_movies);
    return catalogue;
}

} // namespace quillory::data
