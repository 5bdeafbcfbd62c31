#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "EngineRules.h"
#include "RatingModel.h"

namespace quillory::model {

// No item: a pick without a reason.
inline constexpr std::uint32_t kNoItem = std::numeric_limits<std::uint32_t>::max();

// An item ranked for a user, and the item he rated that supports it most (kNoItem for none).
struct RankedItem {
    std::uint32_t item = kNoItem;
    float score = 0.0F;
    std::uint32_t because = kNoItem;
};

// Training settings of the ranking model. Describe() is part of its cache fingerprint.
struct RankingSettings {
    // Below this many ratings a user's list is the newcomers' list: items widely seen and well liked.
    std::size_t minPersonalRatings = kMinRatingsToPredict;
    std::uint64_t seed = 20240607;
    // The newcomers' list: the `newcomerPool` most-rated items, less those liked by fewer than the share of all
    // ratings that are 4 or 5 (shrunk towards it by `newcomerShrink` ratings), best liked first.
    std::size_t newcomerPool = 500;
    double newcomerShrink = 20.0;
    // A newcomer's own scores are mixed with the list's by this much (as popularityBlend below does for others).
    double newcomerBlend = 0.3;
    // Each item keeps its `neighbours` strongest links: from an item to those that its raters rated 4 or 5, each
    // rater's vote split over his ratings (their count to the power `alpha`), and a linked item's weight divided by
    // its rating count to the power `beta`, so that what everybody likes does not crowd out what this item's raters
    // like in particular. A rating below 4 speaks for other items with `lowWeight` of a liked one's weight; below
    // zero, against them: what an item's detractors liked links to it less, and a user's dislikes push their links
    // down in his list.
    std::size_t neighbours = 150;
    double alpha = 0.8;
    double beta = 0.35;
    double lowWeight = -0.15;
    // A user's scores, as shares of their sum, are mixed with each item's share of all ratings of 4 and up by this
    // much (0 to 1): a guard for users whose ratings lead only weakly to anything.
    double popularityBlend = 0.0;
    // Beside the links, each item gets `factors` taste factors by implicit alternating least squares (Rendle et al.,
    // 2022): every rated item a one, every unrated pair a zero weighted `unobserved`, each side's penalty
    // `factorPenalty` times its ones plus `unobserved` times the other side's size, `factorEpochs` sweeps. A user's
    // own factors are solved from his ratings at each list. 0 factors: the links alone.
    std::size_t factors = 16;
    int factorEpochs = 8;
    // Beyond this many ratings the factors train on a sample of whole users whose ratings come to about as many,
    // so that their training stays cheap on large data.
    std::uint64_t factorWork = 1000000;
    // Users of fewer ratings are left out of the factors' training (their lists still use the factors).
    std::size_t factorMinRatings = 5;
    double unobserved = 0.5;
    double factorPenalty = 0.01;
    // A personal list mixes the links' scores with the factors' (each scaled by its largest over the candidates):
    // this much of the links'.
    double linkShare = 0.6;
    // Beyond this much work (the sum over users of their ratings times their liked items) each user's lists are
    // cut to a random sample of equal length, so that training stays cheap on large data.
    std::uint64_t workLimit = 300000000;

    std::string Describe() const;
    static RankingSettings Defaults();
};

// The ranking model: which unrated items a user will rate 4 or 5, best first, learned from the same ratings as the
// prediction model. Deterministic: the same ratings and settings give the same lists. Ranking a user takes his
// ratings as they are now (fold-in), so a rating just entered changes his next list.
class CRankingModel {
public:
    explicit CRankingModel(RankingSettings settings = RankingSettings::Defaults());
    ~CRankingModel();
    CRankingModel(CRankingModel&&) noexcept;
    CRankingModel& operator=(CRankingModel&&) noexcept;

    const RankingSettings& Settings() const;

    // Trains on every rating. Users 0..numUsers-1 and items 0..numItems-1; any of them may have no ratings.
    // Throws std::invalid_argument for a rating outside that range.
    void Train(std::span<const Rating> ratings, std::uint32_t numUsers, std::uint32_t numItems);
    // The same from ratings grouped by user (read a few times over, from the calling thread), without a copy of
    // them: the same rows give the same model as the same ratings in that order. `threads` (0: TrainingThreads())
    // changes only the speed: one where another training already keeps every core busy.
    void Train(const IRatedRows& rows, std::uint32_t numUsers, std::uint32_t numItems, unsigned threads = 0);

    // Up to `count` items for a user whose ratings are `rated` (item, value on 1..5), best first; never an item of
    // `rated`, never one twice, `count` of them while that many unrated items exist. Fewer than
    // Settings().minPersonalRatings ratings give the newcomers' list (reasons kNoItem). Items of `rated` must be
    // below the trained item count.
    std::vector<RankedItem> Rank(UserRatings rated, std::size_t count) const;

    // Up to `count` items most alike `item` by who likes them, most alike first; never `item` itself.
    std::vector<std::uint32_t> Similar(std::uint32_t item, std::size_t count) const;

    // Writes the trained model to `path` atomically with `fingerprint` and a checksum, as CRatingModel::Save does.
    void Save(const std::filesystem::path& path, std::string_view fingerprint) const;
    // Loads a model saved with this fingerprint and, when given, trained on exactly this shape; false, leaving the
    // model as it was, for any file that is not exactly right. Never throws for a bad file; bounds every count
    // before allocating.
    bool Load(const std::filesystem::path& path, std::string_view fingerprint,
              std::optional<ModelShape> expected = std::nullopt);

    // One line about the trained model, for tools and logs.
    std::string Summary() const;

    // What a trained model holds, for the model's own files (RankingImpl.h).
    struct Impl;

private:
    bool LoadChecked(const std::filesystem::path& path, std::string_view fingerprint,
                     std::optional<ModelShape> expected);

    std::unique_ptr<Impl> m_impl;
};

} // namespace quillory::model
