#include "MovieLookup.h"

#include <algorithm>

namespace quillory::data {

CMovieLookup::CMovieLookup(const std::vector<MovieRecord>& movies) {
    int maxId = 0;
    for (const MovieRecord& movie : movies) {
        maxId = std::max(maxId, movie.id);
    }
    if (maxId < kDirectLimit && static_cast<std::size_t>(maxId) <= kDirectSpread * movies.size() + 4096) {
        m_table.assign(static_cast<std::size_t>(maxId) + 1, kNone);
        for (std::size_t i = 0; i < movies.size(); ++i) {
            m_table[static_cast<std::size_t>(movies[i].id)] = static_cast<std::uint32_t>(i);
        }
    } else {
        m_map.reserve(movies.size());
        for (std::size_t i = 0; i < movies.size(); ++i) {
            m_map.emplace(movies[i].id, static_cast<std::uint32_t>(i));
        }
    }
}

} // namespace quillory::data
