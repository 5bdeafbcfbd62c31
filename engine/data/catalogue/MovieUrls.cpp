#include "MovieUrls.h"

#include <fmt/format.h>

namespace quillory::data {

std::string ImdbUrl(int imdbId) {
    return fmt::format("https://www.imdb.com/title/tt{:07d}/", imdbId);
}

std::string MovieLensUrl(int movieId) {
    return fmt::format("https://movielens.org/movies/{}", movieId);
}

} // namespace quillory::data
