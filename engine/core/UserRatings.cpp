#include "UserRatings.h"

#include <algorithm>

namespace quillory {

int CUserRatings::Stars(std::uint32_t user, std::uint32_t item) const {
    if (const int stars = m_data.Stars(user, item); stars != 0) {
        return stars;
    }
    if (const auto entered = m_entered.find(user); entered != m_entered.end()) {
        const auto it = std::lower_bound(entered->second.begin(), entered->second.end(), item,
                                         [](const Entered& rating, std::uint32_t key) { return rating.item < key; });
        if (it != entered->second.end() && it->item == item) {
            return it->stars;
        }
    }
    return 0;
}

std::vector<CUserRatings::ItemStars> CUserRatings::Of(std::uint32_t user) const {
    std::vector<ItemStars> ratings;
    if (user < m_data.Users()) {
        for (const std::uint32_t entry : m_data.Row(user)) {
            ratings.emplace_back(CRatingIndex::ItemOf(entry), static_cast<std::uint8_t>(CRatingIndex::StarsOf(entry)));
        }
    }
    if (const auto entered = m_entered.find(user); entered != m_entered.end()) {
        for (const Entered& rating : entered->second) {
            ratings.emplace_back(rating.item, rating.stars);
        }
    }
    return ratings;
}

bool CUserRatings::AddEntered(std::uint32_t user, std::uint32_t item, int stars, long long timestamp) {
    if (Stars(user, item) != 0) {
        return false;
    }
    std::vector<Entered>& ratings = m_entered[user];
    const auto at = std::lower_bound(ratings.begin(), ratings.end(), item,
                                     [](const Entered& rating, std::uint32_t key) { return rating.item < key; });
    ratings.insert(at, Entered{item, static_cast<std::uint8_t>(stars), timestamp});
    return true;
}

std::span<const CUserRatings::Entered> CUserRatings::EnteredOf(std::uint32_t user) const {
    const auto entered = m_entered.find(user);
    return entered == m_entered.end() ? std::span<const Entered>() : std::span<const Entered>(entered->second);
}

std::vector<std::uint32_t> CUserRatings::UsersWithEnteredRatings() const {
    std::vector<std::uint32_t> users;
    users.reserve(m_entered.size());
    for (const auto& entry : m_entered) {
        users.push_back(entry.first);
    }
    std::sort(users.begin(), users.end());
    return users;
}

} // namespace quillory
