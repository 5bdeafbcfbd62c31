// The catalogue and links of the MovieLens CSV layout (movies.csv, links.csv).
#include "CatalogueReaders.h"

#include <array>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "CatalogueBuilder.h"
#include "CatalogueText.h"
#include "CsvHeader.h"
#include "Fields.h"
#include "MovieLookup.h"
#include "MovieUrls.h"
#include "NumberFields.h"
#include "QuoteExcerpt.h"
#include "TextFile.h"
#include "TrimBlanks.h"

namespace quillory::data {

namespace {

constexpr std::array<std::string_view, 3> kMovieColumns{"movieId", "title", "genres"};
constexpr std::array<std::string_view, 3> kLinkColumns{"movieId", "imdbId", "tmdbId"};

} // namespace

MovieCatalogue LoadMoviesCsv(CTextFile& file) {
    CCatalogueBuilder movies;
    std::vector<std::string> fields;
    ExpectCsvHeader(file, fields, kMovieColumns);
    std::size_t count = 0;
    while ((count = file.NextCsvRecord(fields)) > 0) {
        if (count == 1 && fields[0].empty()) {
            continue;
        }
        for (std::size_t i = 0; i < count; ++i) {
            CheckCatalogueText(file, fields[i]);
        }
        if (count != 3) {
            file.Fail(FieldCountText(3, ",", "movieId,title,genres", count));
        }
        MovieRecord movie;
        movie.id = ParseId(file, fields[0], "movie id");
        movie.title = std::string(TrimBlanks(fields[1]));
        movie.url = MovieLensUrl(movie.id);
        movie.genres = movies.Genres().ReadList(file, fields[2]);
        movies.Add(file, std::move(movie));
    }
    return movies.Take();
}

void LoadLinks(CTextFile& file, std::vector<MovieRecord>& movies) {
    const CMovieLookup lookup(movies);
    std::vector<std::uint32_t> lineOf(movies.size(), 0);
    std::vector<std::string> fields;
    ExpectCsvHeader(file, fields, kLinkColumns);
    std::size_t count = 0;
    while ((count = file.NextCsvRecord(fields)) > 0) {
        if (count == 1 && fields[0].empty()) {
            continue;
        }
        if (count != 3) {
            file.Fail(FieldCountText(3, ",", "movieId,imdbId,tmdbId", count));
        }
        const int movieId = ParseId(file, fields[0], "movie id");
        const std::uint32_t index = lookup.Find(movieId);
        if (index == CMovieLookup::kNone) {
            file.Fail(fmt::format("the movie id {} is not in the catalogue {}.", movieId, file.Path().string()));
        }
        if (lineOf[index] != 0) {
            file.Fail(
                fmt::format("the movie id {} is linked a second time (first on line {}).", movieId, lineOf[index]));
        }
        lineOf[index] = file.LineNumber();
        int tmdbId = 0;
        if (!fields[2].empty() && !ParseInteger(std::string_view(fields[2]), tmdbId)) {
            file.Fail("expected the TMDb id as a whole number or nothing, found " + QuoteExcerpt(fields[2]) + ".");
        }
        if (!fields[1].empty()) {
            movies[index].url = ImdbUrl(ParseId(file, fields[1], "IMDb id"));
        }
    }
}

} // namespace quillory::data
