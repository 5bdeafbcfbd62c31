#include "RatingIndex.h"

#include <algorithm>
#include <utility>

namespace quillory {

CRatingIndex::CRatingIndex(std::vector<std::uint64_t> offsets, std::vector<std::uint32_t> entries)
    : m_offsets(std::move(offsets)), m_entries(std::move(entries)) {}

std::span<const std::uint32_t> CRatingIndex::Row(std::uint32_t user) const {
    return std::span<const std::uint32_t>(m_entries).subspan(m_offsets[user], m_offsets[user + 1] - m_offsets[user]);
}

int CRatingIndex::Stars(std::uint32_t user, std::uint32_t item) const {
    if (user >= Users()) {
        return 0;
    }
    const std::span<const std::uint32_t> row = Row(user);
    const auto it = std::lower_bound(row.begin(), row.end(), Pack(item, 0));
    return it != row.end() && ItemOf(*it) == item ? StarsOf(*it) : 0;
}

bool CRatingIndex::IsWellFormed(std::size_t items) const {
    if (m_offsets.empty() || m_offsets.front() != 0 || m_offsets.back() != m_entries.size()) {
        return false;
    }
    for (std::size_t u = 0; u + 1 < m_offsets.size(); ++u) {
        if (m_offsets[u + 1] < m_offsets[u] || m_offsets[u + 1] > m_entries.size()) {
            return false;
        }
        for (std::uint64_t k = m_offsets[u]; k < m_offsets[u + 1]; ++k) {
            const std::uint32_t entry = m_entries[k];
            const int stars = StarsOf(entry);
            if (ItemOf(entry) >= items || stars < 1 || stars > 5 ||
                (k > m_offsets[u] && ItemOf(m_entries[k - 1]) >= ItemOf(entry))) {
                return false;
            }
        }
    }
    return true;
}

} // namespace quillory
