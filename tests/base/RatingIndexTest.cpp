#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "RatingIndex.h"

namespace {

using quillory::CRatingIndex;

TEST(RatingIndex, AnswersStarsWithinItsRowsAndCatalogue) {
    // Users 0 and 1 with two ratings each, user 2 with one, each row by item.
    const CRatingIndex index({0, 2, 4, 5},
                             {CRatingIndex::Pack(1, 3), CRatingIndex::Pack(3, 2), CRatingIndex::Pack(2, 4),
                              CRatingIndex::Pack(7, 5), CRatingIndex::Pack(9, 1)});
    EXPECT_EQ(index.Stars(0, 3), 2);
    EXPECT_EQ(index.Stars(1, 7), 5);
    EXPECT_EQ(index.Stars(0, 7), 0); // another user's movie
    EXPECT_EQ(index.Stars(3, 1), 0); // no such user
    EXPECT_TRUE(index.IsWellFormed(10));
    EXPECT_FALSE(index.IsWellFormed(9)); // item 9 is outside a catalogue of 9
}

TEST(RatingIndex, StoredIndexesTheDataCouldNotHaveGivenAreRefused) {
    const std::uint32_t a = CRatingIndex::Pack(1, 4);
    const std::uint32_t b = CRatingIndex::Pack(2, 5);
    struct Stored {
        std::vector<std::uint64_t> offsets;
        std::vector<std::uint32_t> entries;
        bool wellFormed;
    };
    const Stored cases[] = {
        {{0, 2}, {a, b}, true},
        {{0, 0, 2}, {a, b}, true},                   // a user without ratings
        {{1, 2}, {a, b}, false},                     // not starting at 0
        {{0, 1}, {a, b}, false},                     // not ending at the entry count
        {{0, 2, 1, 2}, {a, b}, false},               // falling
        {{0, 5, 2}, {a, b}, false},                  // rising past the entries, then back
        {{0, 2}, {b, a}, false},                     // a user's items out of order
        {{0, 2}, {a, a}, false},                     // the same item twice
        {{0, 1}, {CRatingIndex::Pack(1, 0)}, false}, // no stars
        {{0, 1}, {CRatingIndex::Pack(1, 6)}, false}, // six stars
        {{}, {}, false},                             // no offsets at all
    };
    for (const Stored& c : cases) {
        EXPECT_EQ(CRatingIndex(c.offsets, c.entries).IsWellFormed(3), c.wellFormed)
            << ::testing::PrintToString(c.offsets) << " " << ::testing::PrintToString(c.entries);
    }
}

} // namespace
