#include "RatingLines.h"

#include <algorithm>

namespace quillory::data {

void CRatingLines::Add(std::size_t rating, std::uint32_t line) {
    if (!m_runs.empty() && m_runs.back().line + (rating - m_runs.back().first) == line) {
        return; // goes on the current run
    }
    m_runs.push_back({rating, line});
}

std::uint32_t CRatingLines::Of(std::size_t rating) const {
    const auto after = std::upper_bound(m_runs.begin(), m_runs.end(), rating,
                                        [](std::size_t r, const Run& run) { return r < run.first; });
    if (after == m_runs.begin()) {
        return 0;
    }
    const Run& run = *(after - 1);
    return run.line + static_cast<std::uint32_t>(rating - run.first);
}

} // namespace quillory::data
