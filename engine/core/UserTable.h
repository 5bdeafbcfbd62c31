#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace quillory {

// Users have two numbers: their id (from the data files, or handed out to an account by the store) and a dense
// index, which the rating index and the model use. Data users are indexed 0.. in order of first appearance in the
// ratings file; users who exist only in the store follow them in the order the engine meets them.
class CUserTable {
public:
    CUserTable() = default;
    explicit CUserTable(const std::vector<int>& dataUsers);

    // The user's index, or kNoIndex.
    std::uint32_t IndexOf(long userId) const;
    // Indexes a user the table does not hold yet, after every other.
    std::uint32_t Add(long userId);

    static constexpr std::uint32_t kNoIndex = 0xFFFFFFFFU;

private:
    std::unordered_map<long, std::uint32_t> m_indexOfUser;
};

} // namespace quillory
