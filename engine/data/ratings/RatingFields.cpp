#include "RatingFields.h"

#include <fmt/format.h>

#include "LineErrors.h"
#include "MovieLookup.h"
#include "NumberFields.h"
#include "StarScale.h"

namespace quillory::data {

std::string RatingFieldCountText(const LayoutDescription& layout, std::size_t found) {
    // A TAB is named, with blanks around it so that the names stay apart: "user TAB movie TAB ...".
    const std::string_view separator = layout.ratingSeparator == "\t" ? " TAB " : layout.ratingSeparator;
    std::string names;
    for (const std::string_view column : layout.columns) {
        if (!names.empty()) {
            names += separator;
        }
        names += column;
    }
    return FieldCountText(layout.columns.size(), layout.ratingSeparator, names, found);
}

RatingRecord ReadRatingFields(const CLineErrors& errors, const LayoutDescription& layout, const FieldArray& fields,
                              const CMovieLookup& lookup) {
    RatingRecord record;
    record.user = ParseId(errors, fields[0], "user id");
    record.movie = ParseId(errors, fields[1], "movie id");
    ParseRating(errors, layout.scale, fields[2], record);
    record.timestamp = ParseTimestamp(errors, fields[3]);
    record.item = lookup.Find(record.movie);
    record.userIndex = 0;
    if (record.item == CMovieLookup::kNone) {
        errors.Fail(
            fmt::format("the movie id {} is not in the catalogue; expected a movie of the movies file.", record.movie));
    }
    return record;
}

} // namespace quillory::data
