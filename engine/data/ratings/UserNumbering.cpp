#include "UserNumbering.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <utility>

#include <fmt/format.h>

#include "ChunkThreads.h"
#include "EngineErrors.h"
#include "GroupByRow.h"
#include "TextFile.h"

namespace quillory::data {

namespace {

// Numbers the users in order of first appearance: a direct table where the ids are small, else a hash map that is
// asked only when the user changes from one line to the next (ratings files come grouped by user).
std::vector<int> NumberUsers(std::vector<RatingRecord>& ratings) {
    int maxUser = 0;
    for (const RatingRecord& r : ratings) {
        maxUser = std::max(maxUser, r.user);
    }
    std::vector<int> users;
    constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    if (maxUser < (1 << 24)) {
        std::vector<std::uint32_t> table(static_cast<std::size_t>(maxUser) + 1, kNone);
        for (RatingRecord& r : ratings) {
            std::uint32_t& index = table[static_cast<std::size_t>(r.user)];
            if (index == kNone) {
                index = static_cast<std::uint32_t>(users.size());
                users.push_back(r.user);
            }
            r.userIndex = index;
        }
        return users;
    }
    std::unordered_map<int, std::uint32_t> table;
    int lastUser = 0;
    std::uint32_t lastIndex = 0;
    for (RatingRecord& r : ratings) {
        if (r.user != lastUser) {
            const auto [it, added] = table.emplace(r.user, static_cast<std::uint32_t>(users.size()));
            if (added) {
                users.push_back(r.user);
            }
            lastUser = r.user;
            lastIndex = it->second;
        }
        r.userIndex = lastIndex;
    }
    return users;
}

} // namespace

std::vector<int> NumberUsersAndCheckPairs(const CTextFile& file, std::vector<RatingRecord>& ratings,
                                          const CRatingLines& lines, IndexOrder& order) {
    std::vector<int> users = NumberUsers(ratings);

    // Group the ratings by user, then sort each user's few ratings by movie: duplicates are neighbours, and the
    // order is the rating index's, which the snapshot and the times of the ratings are made in.
    std::vector<std::uint32_t>& positions = order.positions;
    positions.assign(ratings.size(), 0);
    order.userStarts = GroupByRow<std::uint64_t>(
        ratings.size(), users.size(), [&](std::size_t i) { return ratings[i].userIndex; },
        [&](std::size_t i, std::uint64_t at) { positions[at] = static_cast<std::uint32_t>(i); });
    const std::vector<std::uint64_t>& offsets = order.userStarts;
    // The users in chunks over the loading threads; each chunk finds its first duplicate in file order, and the first
    // of those is the file's.
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    constexpr std::size_t kUsersPerChunk = 4096;
    const std::size_t chunks = (users.size() + kUsersPerChunk - 1) / kUsersPerChunk;
    std::vector<std::pair<std::size_t, std::size_t>> found(chunks, {kNone, 0}); // (later, first) of each chunk
    RunChunks(LoadingThreads(), chunks, [&](std::size_t chunk) {
        std::vector<std::uint64_t> keys; // (movie index << 32) | rating index: sorting orders by movie, then file order
        const std::size_t last = std::min(users.size(), (chunk + 1) * kUsersPerChunk);
        for (std::size_t u = chunk * kUsersPerChunk; u < last; ++u) {
            keys.clear();
            for (std::uint64_t k = offsets[u]; k < offsets[u + 1]; ++k) {
                keys.push_back((std::uint64_t{ratings[positions[k]].item} << 32) | positions[k]);
            }
            std::sort(keys.begin(), keys.end());
            for (std::size_t k = 0; k < keys.size(); ++k) {
                positions[offsets[u] + k] = static_cast<std::uint32_t>(keys[k] & 0xFFFFFFFFU);
                const std::size_t later = keys[k] & 0xFFFFFFFFU;
                if (k > 0 && (keys[k] >> 32) == (keys[k - 1] >> 32) && later < found[chunk].first) {
                    found[chunk] = {later, keys[k - 1] & 0xFFFFFFFFU};
                }
            }
        }
    });
    const auto first = std::min_element(found.begin(), found.end());
    const std::size_t firstDuplicate = first == found.end() ? kNone : first->first;
    const std::size_t firstOriginal = first == found.end() ? 0 : first->second;
    if (firstDuplicate != kNone) {
        const RatingRecord& r = ratings[firstDuplicate];
        ThrowDataError(fmt::format("{}, line {}: user {} rates movie {} a second time (first on line {}); expected "
                                   "one rating per user and movie.",
                                   file.Path().string(), lines.Of(firstDuplicate), r.user, r.movie,
                                   lines.Of(firstOriginal)));
    }
    return users;
}

} // namespace quillory::data
