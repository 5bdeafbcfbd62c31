#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillory::data {

// The line of the ratings file each parsed rating came from, for the messages that name it. Ratings follow the lines
// one to one but for blank lines (and the extra lines of a CSV record holding a line break), so only the places where
// that run breaks are kept: a few entries where four bytes a rating would take 128 MB at 32 million ratings.
class CRatingLines {
public:
    // Rating `rating` comes from line `line`; ratings are added in increasing order.
    void Add(std::size_t rating, std::uint32_t line);
    // The line of an added rating.
    std::uint32_t Of(std::size_t rating) const;

private:
    struct Run {
        std::size_t first = 0;  // the run's first rating
        std::uint32_t line = 0; // its line; the run's next ratings are on the lines after
    };
    std::vector<Run> m_runs;
};

} // namespace quillory::data
