#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

#include "MovieRecord.h"

namespace quillory::data {

// Movie id -> catalogue index: a direct table when the ids are few enough and dense enough, else a hash map. Asked
// once per rating, so its lookup stays inline.
class CMovieLookup {
public:
    explicit CMovieLookup(const std::vector<MovieRecord>& movies);

    // The catalogue index of `id`, or kNone.
    std::uint32_t Find(int id) const {
        if (!m_table.empty() || m_map.empty()) {
            return id >= 0 && static_cast<std::size_t>(id) < m_table.size() ? m_table[static_cast<std::size_t>(id)]
                                                                            : kNone;
        }
        const auto it = m_map.find(id);
        return it == m_map.end() ? kNone : it->second;
    }

    static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

private:
    // The direct table takes at most this many entries, and at most kDirectSpread per movie (a catalogue of sparse
    // ids, such as ids of seven digits for ten thousand movies, would make a table of mostly empty entries whose
    // filling cost more than all the hash map's lookups).
    static constexpr int kDirectLimit = 1 << 24;
    static constexpr std::size_t kDirectSpread = 64;
    std::vector<std::uint32_t> m_table;
    std::unordered_map<int, std::uint32_t> m_map;
};

} // namespace quillory::data
