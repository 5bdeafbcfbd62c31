#include "RatingFields.h"

#include <fmt/format.h>

#include "LineErrors.h"
#include "MovieLookup.h"
#include "NumberFields.h"
#include "StarScale.h"

namespace quillory::data {

std::string_view RatingSeparator(Layout layout) {
    return layout == Layout::MovieLens100k ? "\t" : layout == Layout::MovieLensCsv ? "," : "::";
}

std::string RatingFieldCountText(Layout layout, std::size_t found) {
    const char* names = layout == Layout::MovieLens100k  ? "user TAB movie TAB rating TAB timestamp"
                        : layout == Layout::MovieLensCsv ? "userId,movieId,rating,timestamp"
                                                         : "user::movie::rating::timestamp";
    return FieldCountText(4, RatingSeparator(layout), names, found);
}

RatingRecord ReadRatingFields(const CLineErrors& errors, Layout layout, const FieldArray& fields,
                              const CMovieLookup& lookup) {
    RatingRecord record;
    record.user = ParseId(errors, fields[0], "user id");
    record.movie = ParseId(errors, fields[1], "movie id");
    ParseRating(errors, layout, fields[2], record);
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
