#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "Catalogue.h"
#include "MovieTable.h"
#include "UserRatings.h"

namespace quillory {

// Every rating of the user, newest first, ties by movie id ascending: his data ratings, whose times `dataTimes`
// gives in the order CUserRatings::Of lists them, and those entered in the program, with the store's times.
std::vector<UserRating> RatingsNewestFirst(const CUserRatings& ratings, std::uint32_t user,
                                           std::span<const long long> dataTimes, const CCatalogue& catalogue);

} // namespace quillory
