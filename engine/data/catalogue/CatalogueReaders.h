#pragma once

#include <vector>

#include "MovieCatalogue.h"
#include "MovieRecord.h"

namespace quillory::data {

class CTextFile;

// The catalogue readers, one per layout (see docs/data-files.md). Each reads every line of `file`, fails the first
// malformed one with its line number, and returns the movies in file order with their genres.
using CatalogueReader = MovieCatalogue (*)(CTextFile& file);

// u.item: id|title|release date|video release date|URL| and 19 genre flags, Latin-1 unless the file is UTF-8. The
// flag "unknown" is no genre.
MovieCatalogue LoadMovies100k(CTextFile& file);
// movies.csv: movieId,title,genres with a header line, RFC 4180 quoting; genres A|B|C or "(no genres listed)".
MovieCatalogue LoadMoviesCsv(CTextFile& file);
// movies.dat: imdb_id::Title (Year)::Genres, genres A|B|C or empty.
MovieCatalogue LoadMoviesTweetings(CTextFile& file);

// links.csv: movieId,imdbId,tmdbId with a header line. A movie with an IMDb id gets its IMDb page as URL; a movie id
// the catalogue lacks, or one linked twice, fails the line.
void LoadLinks(CTextFile& file, std::vector<MovieRecord>& movies);

} // namespace quillory::data
