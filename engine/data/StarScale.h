#pragma once

#include <string_view>

#include "Layout.h"
#include "RatingRecord.h"

namespace quillory::data {

class CTextFile;

// Reads the layout's rating and maps it onto stars 1..5 (never 0) and an unrounded value in [1, 5].
void ParseRating(const CTextFile& file, Layout layout, std::string_view field, RatingRecord& record);

} // namespace quillory::data
