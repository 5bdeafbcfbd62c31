#pragma once

#include <cstdint>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "RatingIndex.h"

namespace quillory {

// Every user's ratings as the engine answers for them, by user index and catalogue index: the data files' (fixed
// once loaded) and those entered in the program (taken from the store). A user rates a movie at most once, in the
// data or in the store; where both hold the pair, the data files win.
class CUserRatings {
public:
    using ItemStars = std::pair<std::uint32_t, std::uint8_t>; // catalogue index, stars

    CUserRatings() = default;
    explicit CUserRatings(CRatingIndex data) : m_data(std::move(data)) {}

    // The user's stars for the movie, data or store; 0 when he has not rated it.
    int Stars(std::uint32_t user, std::uint32_t item) const;
    // Every rating of the user: the data's by item, then the entered ones by item.
    std::vector<ItemStars> Of(std::uint32_t user) const;
    // A rating entered in the program, with when the store says it was made (seconds since 1970).
    struct Entered {
        std::uint32_t item = 0;
        std::uint8_t stars = 0;
        long long timestamp = 0;
    };

    // Takes in a rating entered in the program. False, and nothing changes, when the user has rated the movie
    // already (the same rating read again, or the data files hold the pair themselves).
    bool AddEntered(std::uint32_t user, std::uint32_t item, int stars, long long timestamp);
    // The user's entered ratings, by item; empty for none.
    std::span<const Entered> EnteredOf(std::uint32_t user) const;
    // The users with entered ratings, in index order.
    std::vector<std::uint32_t> UsersWithEnteredRatings() const;

    const CRatingIndex& DataRatings() const { return m_data; }

private:
    CRatingIndex m_data;
    // By user index, each user's sorted by item.
    std::unordered_map<std::uint32_t, std::vector<Entered>> m_entered;
};

} // namespace quillory
