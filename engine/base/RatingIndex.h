#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quillory {

// Whole-star ratings grouped by user, each user's sorted by item, in 4 bytes a rating: the form in which the data
// snapshot keeps the data files' ratings, and in which the engine answers "how did this user rate this movie".
// Users and items are dense indices. An entry packs (item << 3) | stars, so that sorting a user's entries sorts
// them by item.
class CRatingIndex {
public:
    // The items an entry's 29 bits can tell apart.
    static constexpr std::size_t kMaxItems = std::size_t{1} << 29;

    static constexpr std::uint32_t Pack(std::uint32_t item, int stars) {
        return (item << 3) | static_cast<std::uint32_t>(stars);
    }
    static constexpr std::uint32_t ItemOf(std::uint32_t entry) { return entry >> 3; }
    static constexpr int StarsOf(std::uint32_t entry) { return static_cast<int>(entry & 7U); }

    CRatingIndex() : m_offsets(1, 0) {}
    // An index as stored: user u's entries are entries[offsets[u] .. offsets[u + 1]). Unchecked: see IsWellFormed.
    CRatingIndex(std::vector<std::uint64_t> offsets, std::vector<std::uint32_t> entries);

    std::uint32_t Users() const { return static_cast<std::uint32_t>(m_offsets.size() - 1); }
    std::size_t Size() const { return m_entries.size(); }
    // The user's entries, sorted by item.
    std::span<const std::uint32_t> Row(std::uint32_t user) const;
    // The user's stars for the item; 0 when he has not rated it or is no user of the index.
    int Stars(std::uint32_t user, std::uint32_t item) const;

    // Whether the index is one the data files could have given for `items` items: offsets that start at 0, never fall
    // and end at the entry count, each user's items in increasing order and below `items`, stars 1 to 5.
    bool IsWellFormed(std::size_t items) const;

    const std::vector<std::uint64_t>& Offsets() const { return m_offsets; }
    const std::vector<std::uint32_t>& Entries() const { return m_entries; }

private:
    std::vector<std::uint64_t> m_offsets;
    std::vector<std::uint32_t> m_entries;
};

} // namespace quillory
