#pragma once

#include <cstdint>

namespace quillory::data {

// One rating of the ratings file.
struct RatingRecord {
    int user = 0;                // the user id of the data files
    int movie = 0;               // the movie id of the data files
    int stars = 0;               // 1..5 after the layout's mapping (never 0)
    float value = 0.0F;          // the rating mapped linearly onto [1, 5], unrounded
    long long timestamp = 0;     // seconds since 1970 as the file gives them
    std::uint32_t item = 0;      // dense movie index: catalogue number - 1
    std::uint32_t userIndex = 0; // dense user index: users numbered 0.. in order of first appearance in this file
};

} // namespace quillory::data
