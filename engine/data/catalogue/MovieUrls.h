#pragma once

#include <string>

namespace quillory::data {

// The web addresses of movies whose data names no address: an IMDb title page, or a MovieLens movie page.
std::string ImdbUrl(int imdbId);
std::string MovieLensUrl(int movieId);

} // namespace quillory::data
