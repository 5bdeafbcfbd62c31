// The catalogue of the MovieLens 100K layout (u.item).
#include "CatalogueReaders.h"

#include <array>
#include <string_view>

#include <fmt/format.h>

#include "CatalogueBuilder.h"
#include "CatalogueText.h"
#include "Fields.h"
#include "NumberFields.h"
#include "QuoteExcerpt.h"
#include "TextFile.h"
#include "TrimBlanks.h"
#include "Utf8Text.h"

namespace quillory::data {

namespace {

// The fields of a u.item line: id|title|release date|video release date|URL| and 19 genre flags.
constexpr std::size_t kFields = 24;
constexpr std::size_t kFirstFlag = 5;
// The genres of the flags, in their order. The first flag, "unknown", marks a movie whose genres are not known: it
// is no genre, and a movie with no other flag has none.
constexpr std::array<std::string_view, kFields - kFirstFlag> kFlagGenres = {
    "unknown",     "Action", "Adventure", "Animation", "Children's", "Comedy",  "Crime",
    "Documentary", "Drama",  "Fantasy",   "Film-Noir", "Horror",     "Musical", "Mystery",
    "Romance",     "Sci-Fi", "Thriller",  "War",       "Western"};

} // namespace

MovieCatalogue LoadMovies100k(CTextFile& file) {
    // Latin-1 unless the file is UTF-8: declared by a byte-order mark, or valid UTF-8 throughout (a copy someone
    // converted). Latin-1 text with accents is practically never valid UTF-8, and converting UTF-8 a second time
    // would turn every accent into two wrong characters.
    if (!file.HadByteOrderMark() && !IsValidUtf8(file.Rest())) {
        file.ConvertLatin1ToUtf8();
    }
    CCatalogueBuilder movies;
    std::array<GenreSet, kFlagGenres.size()> bitOfFlag{}; // 0 for "unknown"
    for (std::size_t flag = 1; flag < kFlagGenres.size(); ++flag) {
        bitOfFlag[flag] = movies.Genres().BitOf(file, kFlagGenres[flag]);
    }
    FieldArray fields;
    std::string_view line;
    while (file.NextLine(line)) {
        if (line.empty()) {
            continue;
        }
        CheckCatalogueText(file, line);
        const std::size_t count = Split(line, "|", fields);
        if (count != kFields) {
            file.Fail(FieldCountText(kFields, "|", "id|title|release date|video release date|URL| and 19 genre flags",
                                     count));
        }
        MovieRecord movie;
        for (std::size_t i = kFirstFlag; i < kFields; ++i) {
            if (fields[i] == "1") {
                movie.genres |= bitOfFlag[i - kFirstFlag];
            } else if (fields[i] != "0") {
                file.Fail(
                    fmt::format("expected a genre flag 0 or 1 in field {}, found {}.", i + 1, QuoteExcerpt(fields[i])));
            }
        }
        movie.id = ParseId(file, fields[0], "movie id");
        movie.title = std::string(TrimBlanks(fields[1]));
        movie.releaseDate = std::string(TrimBlanks(fields[2]));
        movie.url = std::string(TrimBlanks(fields[4]));
        movies.Add(file, std::move(movie));
    }
    return movies.Take();
}

} // namespace quillory::data
