#include "UserRatings.h"

#include <algorithm>

namespace quillory {

int CUserRatings::Stars(std::uint32_t user, std::uint32_t item) const {
    if (const int stars = m_data.Stars(user, item); stars != 0) {
        return stars;
    }
    if (const auto entered = m_entered.find(user); entered != m_entered.end()) {
        const auto it = std::lower_bound(entered->second.begin(), entered->second.end(), ItemStars{item, 0});
        if (it != entered->second.end() && it->first == item) {
            return it->second;
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
        ratings.insert(ratings.end(), entered->second.begin(), entered->second.end());
    }
    return ratings;
}

bool CUserRatings::AddEntered(std::uint32_t user, std::uint32_t item, int stars) {
    if (Stars(user, item) != 0) {
        return false;
    }
    std::vector<ItemStars>& ratings = m_entered[user];
    const ItemStars entry{item, static_cast<std::uint8_t>(stars)};
    ratings.insert(std::lower_bound(ratings.begin(), ratings.end(), entry), entry);
    return true;
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
