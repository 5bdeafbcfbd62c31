#pragma once

#include <cstdint>
#include <vector>

#include "RatingRecord.h"

namespace quillory::data {

class CTextFile;

// Numbers the users of `ratings` 0.. in order of first appearance (setting each rating's userIndex) and returns the
// data user ids by index. A second rating of the same movie by the same user fails `file`, naming the line of the
// earliest such rating (`lines` holds each rating's line) and the line it repeats.
std::vector<int> NumberUsersAndCheckPairs(const CTextFile& file, std::vector<RatingRecord>& ratings,
                                          const std::vector<std::uint32_t>& lines);

} // namespace quillory::data
