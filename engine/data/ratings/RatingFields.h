#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "Fields.h"
#include "Layout.h"
#include "RatingRecord.h"

namespace quillory::data {

class CLineErrors;
class CMovieLookup;

// The separator of a ratings line in `layout`: TAB, "," or "::".
std::string_view RatingSeparator(Layout layout);

// The message for a ratings line of `found` fields instead of four.
std::string RatingFieldCountText(Layout layout, std::size_t found);

// A rating from the four fields of its line, each checked in turn (user, movie, rating, timestamp), then the movie
// against the catalogue: the first that is wrong fails the line through `errors`.
RatingRecord ReadRatingFields(const CLineErrors& errors, Layout layout, const FieldArray& fields,
                              const CMovieLookup& lookup);

} // namespace quillory::data
