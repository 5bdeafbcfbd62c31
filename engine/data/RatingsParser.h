#pragma once

#include <cstdint>
#include <vector>

#include "Layout.h"
#include "RatingRecord.h"

namespace quillory::data {

class CMovieLookup;
class CTextFile;

// Reads the ratings of `file` in `layout` against the catalogue, in file order; fills `lines` with each rating's
// line number. Every field is checked: the first malformed line, or a movie the catalogue lacks, fails the file with
// its line number. Users are left unnumbered (see NumberUsersAndCheckPairs).
std::vector<RatingRecord> ParseRatings(CTextFile& file, Layout layout, const CMovieLookup& lookup,
                                       std::vector<std::uint32_t>& lines);

} // namespace quillory::data
