#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Layout.h"
#include "RatingRecord.h"

namespace quillory::data {

class CMovieLookup;

// A malformed line of a piece: its index in the piece (0 for the first) and what is wrong, worded as the file's
// errors word it.
struct RatingLineFailure {
    std::uint32_t line = 0;
    std::string what;
};

// Parses a piece of whole lines of a ratings file in `layout` (of a CSV ratings file, lines without quotes). Its line i
// fills records[i], or, when the line is empty, leaves it and adds i to `blanks`; `records` holds a place for each
// of the piece's lines. Stops at the first malformed line and returns it. Pieces of one file may be parsed on
// different threads at once: nothing else is written.
std::optional<RatingLineFailure> ParseRatingPiece(std::string_view piece, Layout layout, const CMovieLookup& lookup,
                                                  RatingRecord* records, std::vector<std::uint32_t>& blanks);

} // namespace quillory::data
