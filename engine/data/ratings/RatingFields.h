#pragma once

#include <cstddef>
#include <string>

#include "Fields.h"
#include "Layout.h"
#include "RatingRecord.h"

namespace quillory::data {

class CLineErrors;
class CMovieLookup;

// The message for a ratings line of `found` fields instead of the layout's four.
std::string RatingFieldCountText(const LayoutDescription& layout, std::size_t found);

// A rating from the four fields of its line, each checked in turn (user, movie, rating on the layout's scale,
// timestamp), then the movie against the catalogue: the first that is wrong fails the line through `errors`.
RatingRecord ReadRatingFields(const CLineErrors& errors, const LayoutDescription& layout, const FieldArray& fields,
                              const CMovieLookup& lookup);

} // namespace quillory::data
