// The catalogue of the MovieLens 100K layout (u.item).
#include "CatalogueReaders.h"

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

std::vector<MovieRecord> LoadMovies100k(CTextFile& file) {
    // Latin-1 unless the file is UTF-8: declared by a byte-order mark, or valid UTF-8 throughout (a copy someone
    // converted). Latin-1 text with accents is practically never valid UTF-8, and converting UTF-8 a second time
    // would turn every accent into two wrong characters.
    if (!file.HadByteOrderMark() && !IsValidUtf8(file.Rest())) {
        file.ConvertLatin1ToUtf8();
    }
    CCatalogueBuilder movies;
    FieldArray fields;
    std::string_view line;
    constexpr std::size_t kFields = 24; // id|title|release date|video release date|URL| and 19 genre flags
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
        for (std::size_t i = 5; i < kFields; ++i) {
            if (fields[i] != "0" && fields[i] != "1") {
                file.Fail(
                    fmt::format("expected a genre flag 0 or 1 in field {}, found {}.", i + 1, QuoteExcerpt(fields[i])));
            }
        }
        MovieRecord movie;
        movie.id = ParseId(file, fields[0], "movie id");
        movie.title = std::string(TrimBlanks(fields[1]));
        movie.releaseDate = std::string(TrimBlanks(fields[2]));
        movie.url = std::string(TrimBlanks(fields[4]));
        movies.Add(file, std::move(movie));
    }
    return movies.Take();
}

} // namespace quillory::data
