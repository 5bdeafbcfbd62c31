#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace quillory {

// The movies each user said he is not interested in, by user id and catalogue index, as the store holds them: which
// he hides from his picks now, and in what order he hid them (the store's sequence numbers).
class CNotInterested {
public:
    // Takes in a mark as it stands in the store: hidden, with the number of the change that hid it, or cleared.
    void Apply(long user, std::uint32_t item, bool hidden, std::int64_t sequence);
    bool IsHidden(long user, std::uint32_t item) const;
    // The items the user hides, by item; empty for none.
    std::vector<std::uint32_t> Hidden(long user) const;
    // The items the user hides, most recently hidden first.
    std::vector<std::uint32_t> NewestFirst(long user) const;

private:
    struct Mark {
        std::uint32_t item = 0;
        std::int64_t sequence = 0;
    };
    // Each user's marks sorted by item; a user who hides nothing has no entry.
    std::unordered_map<long, std::vector<Mark>> m_hidden;
};

} // namespace quillory
