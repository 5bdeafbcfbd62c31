#pragma once

#include <cstdint>
#include <vector>

#include "RatingLines.h"
#include "RatingRecord.h"

namespace quillory::data {

class CTextFile;

// The ratings in the rating index's order: users by index, each user's ratings by movie.
struct IndexOrder {
    std::vector<std::uint64_t> userStarts; // user u's ratings are positions userStarts[u] .. userStarts[u + 1] - 1
    std::vector<std::uint32_t> positions;  // the ratings' places in the file's order
};

// Numbers the users of `ratings` 0.. in order of first appearance (setting each rating's userIndex) and returns the
// data user ids by index; `order` receives the ratings in the rating index's order. A second rating of the same movie
// by the same user fails `file`, naming the line of the earliest such rating (`lines` holds each rating's line) and
// the line it repeats.
std::vector<int> NumberUsersAndCheckPairs(const CTextFile& file, std::vector<RatingRecord>& ratings,
                                          const CRatingLines& lines, IndexOrder& order);

} // namespace quillory::data
