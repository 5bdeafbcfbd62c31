// The ratings file in any of the three layouts: one rating a line (a CSV record in movielens-csv).
//
// Speed matters: ten million ratings must load in a few seconds on one core. Lines are walked in memory, numbers are
// read with std::from_chars, and no line allocates once the buffers have grown.
#include "RatingsParser.h"

#include <algorithm>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "CsvHeader.h"
#include "Fields.h"
#include "MovieLookup.h"
#include "NumberFields.h"
#include "StarScale.h"
#include "TextFile.h"

namespace quillory::data {

std::vector<RatingRecord> ParseRatings(CTextFile& file, Layout layout, const CMovieLookup& lookup,
                                       std::vector<std::uint32_t>& lines) {
    std::vector<RatingRecord> ratings;
    // A line holds at least 8 bytes ("1\t1\t1\t1\n"); reserving for the newlines found avoids regrowing 10M records.
    ratings.reserve(static_cast<std::size_t>(file.Size() / 16) + 16);
    lines.reserve(ratings.capacity());

    FieldArray fields;
    std::vector<std::string> csvFields;
    FieldArray csvViews;
    const std::string_view separator = layout == Layout::MovieLens100k ? "\t" : "::";
    const char* names =
        layout == Layout::MovieLens100k ? "user TAB movie TAB rating TAB timestamp" : "user::movie::rating::timestamp";
    if (layout == Layout::MovieLensCsv) {
        ExpectCsvHeader(file, csvFields, {"userId", "movieId", "rating", "timestamp"});
    }
    std::string_view line;
    while (true) {
        std::size_t count = 0;
        const FieldArray* row = &fields;
        if (layout == Layout::MovieLensCsv) {
            // Rating lines seldom hold quotes: split them in place, and take the full CSV reader only when they do.
            const CTextFile::LineKind kind = file.NextUnquotedLine(line);
            if (kind == CTextFile::LineKind::End) {
                break;
            }
            if (kind == CTextFile::LineKind::Line) {
                if (line.empty()) {
                    continue;
                }
                count = Split(line, ",", fields);
            } else {
                count = file.NextCsvRecord(csvFields);
                if (count == 1 && csvFields[0].empty()) {
                    continue;
                }
                for (std::size_t i = 0; i < std::min(count, kMaxFields); ++i) {
                    csvViews[i] = csvFields[i];
                }
                row = &csvViews;
            }
            if (count != 4) {
                file.Fail(FieldCountText(4, ",", "userId,movieId,rating,timestamp", count));
            }
        } else {
            if (!file.NextLine(line)) {
                break;
            }
            if (line.empty()) {
                continue;
            }
            count = Split(line, separator, fields);
            if (count != 4) {
                file.Fail(FieldCountText(4, separator, names, count));
            }
        }
        const auto& f = *row;
        RatingRecord record;
        record.user = ParseId(file, f[0], "user id");
        record.movie = ParseId(file, f[1], "movie id");
        ParseRating(file, layout, f[2], record);
        record.timestamp = ParseTimestamp(file, f[3]);
        record.item = lookup.Find(record.movie);
        if (record.item == CMovieLookup::kNone) {
            file.Fail(fmt::format("the movie id {} is not in the catalogue; expected a movie of the movies file.",
                                  record.movie));
        }
        ratings.push_back(record);
        lines.push_back(file.LineNumber());
    }
    return ratings;
}

} // namespace quillory::data
