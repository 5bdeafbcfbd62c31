#pragma once

#include <cstdint>

namespace quillory::data {

// One rating of the ratings file. Its default constructor leaves the fields unset, on purpose: the parser sizes its
// result for every line of the file and then writes each record where its line goes; zeroing them first would make
// the whole result (a gigabyte at 32 million ratings) resident while the text is still held. Every reader of a
// ratings line sets every field.
struct RatingRecord {
    RatingRecord() {} // NOLINT: not "= default", which would zero the records a vector is sized with

    int user;                // the user id of the data files
    int movie;               // the movie id of the data files
    int stars;               // 1..5 after the layout's mapping (never 0)
    float value;             // the rating mapped linearly onto [1, 5], unrounded
    long long timestamp;     // seconds since 1970 as the file gives them
    std::uint32_t item;      // dense movie index: catalogue number - 1
    std::uint32_t userIndex; // dense user index: users numbered 0.. in order of first appearance in this file
};

} // namespace quillory::data
