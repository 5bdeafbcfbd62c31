#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "RankingModel.h"

namespace quillory::model {

// What a trained ranking model holds; the cache file lists these arrays (RankingFile.cpp).
struct CRankingModel::Impl {
    RankingSettings settings;
    std::uint32_t numUsers = 0;
    std::uint32_t numItems = 0;
    std::uint64_t numRatings = 0;

    // Per item: how many rated it, and how many of them 4 or 5.
    std::vector<std::uint32_t> rated;
    std::vector<std::uint32_t> liked;
    std::uint64_t allLiked = 0; // the sum of `liked`
    // Every item, the newcomers' list first (widely seen and well liked, best first), then the rest by how many
    // liked them; `pool` is the length of the newcomers' list.
    std::vector<std::uint32_t> order;
    std::uint32_t pool = 0;
    // Each item's neighbours, strongest first: the items its raters went on to like (RankingNeighbours.cpp).
    std::vector<std::uint64_t> start; // items + 1 offsets
    std::vector<std::uint32_t> neighbour;
    std::vector<float> weight;

    bool Trained() const { return start.size() == std::size_t(numItems) + 1; }
    std::span<const std::uint32_t> Neighbours(std::uint32_t item) const {
        return {neighbour.data() + start[item], static_cast<std::size_t>(start[item + 1] - start[item])};
    }

    void BuildOrder(const RankingSettings& settings);
    // The links from the users' rows; `length` and `likedAll` are each user's ratings and those of 4 or 5. On
    // `threadCount` threads, or TrainingThreads() for 0.
    void BuildNeighbours(const IRatedRows& rows, const std::vector<std::uint32_t>& length,
                         const std::vector<std::uint32_t>& likedAll, unsigned threadCount);
};

// How much a rating of `value` counts when it speaks for other items: a liked item fully, the rest by `lowWeight`.
inline float SourceWeight(float value, const RankingSettings& settings) {
    return value >= 4.0F ? 1.0F : static_cast<float>(settings.lowWeight);
}

} // namespace quillory::model
