#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "RankingModel.h"
#include "ThreadPool.h"

namespace quillory::model {

struct RankingLists;

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
    // Each item's taste factors, settings.factors of them an item, item after item (RankingFactors.cpp), and their
    // Gram matrix times settings.unobserved (factors x factors), which every user's solve starts from.
    std::vector<float> factors;
    std::vector<float> gram;

    bool Trained() const { return start.size() == std::size_t(numItems) + 1; }
    bool HasFactors() const { return settings.factors > 0 && !gram.empty(); }
    std::span<const std::uint32_t> Neighbours(std::uint32_t item) const {
        return {neighbour.data() + start[item], static_cast<std::size_t>(start[item + 1] - start[item])};
    }

    void BuildOrder(const RankingSettings& settings);
    // The links from the users' rated lists, on `threads`.
    void BuildNeighbours(const RankingLists& lists, CThreadPool& threads);
    // The items' factors from the same lists, on `threads`, then their Gram matrix.
    void BuildFactors(const RankingLists& lists, CThreadPool& threads);
    void BuildGram();
};

// The ratings training reads, grouped both ways, each user's list cut to a random sample beyond the work limit
// (RankingNeighbours.cpp reads them).
struct RankingLists {
    // Per item, its raters, with the weight of the rating as a source of links (SourceWeight times the user's step).
    std::vector<std::uint64_t> itemStart; // items + 1 offsets
    std::vector<std::uint32_t> rater;
    std::vector<float> raterWeight;
    // Per user, his items, those of 4 or 5 first; `likedEnd` is where his liked ones end.
    std::vector<std::uint64_t> userStart; // users + 1 offsets
    std::vector<std::uint64_t> likedEnd;
    std::vector<std::uint32_t> items;
};

// Reads the rows twice (to count, then to place) into lists; `length` and `liked` are each user's ratings and
// those of 4 or 5, which decide the cut. Throws std::invalid_argument when a row changes between the reads.
RankingLists ReadRankingLists(const IRatedRows& rows, std::uint32_t numUsers, std::uint32_t numItems,
                              const std::vector<std::uint32_t>& length, const std::vector<std::uint32_t>& liked,
                              const RankingSettings& settings);

// A user's taste as the items' factors solve it from his ratings, as one sweep of training solves a user
// (RankingFactors.cpp). The model must have factors and outlive it.
class CUserTaste {
public:
    CUserTaste(const CRankingModel::Impl& model, UserRatings rated);
    // Every item's factor score for him.
    void Scores(std::vector<float>& out) const;
    // What each item of `rated` rated 4 or 5 adds to `item`'s factor score, in the order of `rated`.
    std::vector<std::pair<std::uint32_t, float>> LikedShares(UserRatings rated, std::uint32_t item) const;

private:
    const CRankingModel::Impl& m_model;
    std::vector<float> m_system; // factors x factors: his solve's matrix
    std::vector<float> m_taste;  // his factors
};

// How much a rating of `value` counts when it speaks for other items: a liked item fully, the rest by `lowWeight`.
inline float SourceWeight(float value, const RankingSettings& settings) {
    return value >= 4.0F ? 1.0F : static_cast<float>(settings.lowWeight);
}

} // namespace quillory::model
