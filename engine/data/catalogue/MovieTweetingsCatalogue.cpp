// The catalogue of the MovieTweetings layout (movies.dat).
#include "CatalogueReaders.h"

#include "CatalogueBuilder.h"
#include "CatalogueText.h"
#include "Fields.h"
#include "MovieUrls.h"
#include "NumberFields.h"
#include "TextFile.h"
#include "TrimBlanks.h"

namespace quillory::data {

MovieCatalogue LoadMoviesTweetings(CTextFile& file) {
    CCatalogueBuilder movies;
    FieldArray fields;
    std::string_view line;
    while (file.NextLine(line)) {
        if (line.empty()) {
            continue;
        }
        CheckCatalogueText(file, line);
        const std::size_t count = Split(line, "::", fields);
        if (count != 3) {
            file.Fail(FieldCountText(3, "::", "imdb_id::Title (Year)::Genres", count));
        }
        MovieRecord movie;
        movie.id = ParseId(file, fields[0], "IMDb id");
        movie.title = std::string(TrimBlanks(fields[1]));
        movie.url = ImdbUrl(movie.id);
        movie.genres = movies.Genres().ReadList(file, fields[2]);
        movies.Add(file, std::move(movie));
    }
    return movies.Take();
}

} // namespace quillory::data
