#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "RankingModel.h"

namespace quillory::eval {

// A user's ratings, (item, stars), as the models take them.
using UserList = std::vector<std::pair<std::uint32_t, float>>;

// A list a newcomer walks down: replaces `list` with up to `count` items for a user whose ratings are `rated`, best
// first, none of them rated.
using ListSource = std::function<void(const UserList& rated, std::size_t count, std::vector<std::uint32_t>& list)>;

// How a newcomer walks down a list, as a person scrolls one: he looks at each movie in turn; one he rated in the full
// data he rates, with his own stars, and the list is asked for again; one he did not he passes. After a rating he
// reads the new list from its top, and a movie he passed before is skipped without being looked at again (he knows
// it already). He stops at `target` ratings, after `maxLooked` movies looked at, or when a list runs out.
struct WalkRules {
    std::size_t target = 15;
    std::size_t maxLooked = 400;
    // A list is asked for this many items beyond those he passed, and asked for again, longer, when he passed them
    // all without a rating.
    std::size_t fetch = 32;
};

// What a walk gathered: his ratings in the order he gave them, how many movies he had looked at when he gave each
// (the rating's own movie included), and in all.
struct Walk {
    UserList rated;
    std::vector<std::size_t> lookedAt;
    std::size_t looked = 0;
};

// `truth` is the user's every rating in the full data, sorted by item.
Walk WalkDown(const UserList& truth, const ListSource& list, const WalkRules& rules);

// The ratings a walk had given after `count` of them: its first `count`, or all it gathered when it stopped short.
UserList EnteredAfter(const Walk& walk, std::size_t count);

// Binary NDCG at `depth` of `list` against the user's ratings of 4 or 5 in `truth` (sorted by item) that are not in
// `entered`; the ideal is over min(depth, hits). None when there is no such rating. An item listed twice counts once.
std::optional<double> NewcomerNdcg(const std::vector<std::uint32_t>& list, const UserList& truth,
                                   const UserList& entered, std::size_t depth);

// The users left out of training, group by group: the users with at least `minRatings` ratings (`ratingsPerUser`),
// in a seeded random order, cut into `groups` groups of as equal sizes as can be (the first ones a user larger).
std::vector<std::vector<std::uint32_t>> HeldOutGroups(const std::vector<std::uint32_t>& ratingsPerUser,
                                                      std::size_t minRatings, std::uint64_t seed, int groups);

// Movies looked at until the target: the median and the mean over every walk (a walk that stopped short counts with
// what it looked at), and how many stopped short.
struct LookedSummary {
    double median = 0.0;
    double mean = 0.0;
    std::size_t never = 0;
    std::size_t walks = 0;
};
LookedSummary SummariseLooked(const std::vector<Walk>& walks, std::size_t target);

// Each item's popularity times the entropy of its stars (1 to 5) in `ratings`, most first, of equal scores the lower
// item: the static list of Rashid et al. (2002) to walk down.
std::vector<std::uint32_t> PopularityEntropyOrder(const std::vector<model::Rating>& ratings, std::uint32_t numItems);

// What the newcomers' mode measures and against what.
struct NewcomerOptions {
    int splits = 5;
    long long seed = 1;
    // Users with at least this many ratings may be held out; one in ten of them is, in each split.
    std::size_t minRatings = 20;
    WalkRules walk;
    std::vector<std::size_t> checkpoints{5, 10, 15};
    std::size_t depth = 10;
    // EASE's penalties, tried on the validation users: fed a few ratings, it wants less than on whole profiles.
    std::vector<double> easeLambdas{10.0, 50.0, 200.0, 800.0};
    // EASE runs on this many of the most rated movies at most.
    std::uint32_t easeItems = 2500;
    model::RankingSettings ranking = model::RankingSettings::Defaults();
    // Measures on the validation users (cut from the training users as for EASE's penalty) instead of the held-out
    // ones: for choosing settings without looking at the test.
    bool onValidation = false;
};

// The newcomers' protocol: in each split, one in ten of the users with enough ratings is left out of training
// entirely; each walks down the engine's list, the most-rated list and the popularity-times-entropy list; after
// each checkpoint's count of ratings, the engine's picks, EASE's (its penalty chosen on validation users, never on
// the test) and the most popular movies are scored by NewcomerNdcg. Prints each split, then the table: movies
// looked at until the target, and NDCG at each checkpoint (mean of the splits, spread and per split).
void RunNewcomers(const std::vector<model::Rating>& ratings, std::uint32_t numUsers, std::uint32_t numItems,
                  const NewcomerOptions& options);

} // namespace quillory::eval
