#include "UserTable.h"

namespace quillory {

CUserTable::CUserTable(const std::vector<int>& dataUsers) {
    m_indexOfUser.reserve(dataUsers.size());
    for (std::uint32_t u = 0; u < static_cast<std::uint32_t>(dataUsers.size()); ++u) {
        m_indexOfUser.emplace(dataUsers[u], u);
    }
}

std::uint32_t CUserTable::IndexOf(long userId) const {
    const auto it = m_indexOfUser.find(userId);
    return it == m_indexOfUser.end() ? kNoIndex : it->second;
}

std::uint32_t CUserTable::Add(long userId) {
    const auto user = static_cast<std::uint32_t>(m_indexOfUser.size());
    m_indexOfUser.emplace(userId, user);
    return user;
}

} // namespace quillory
