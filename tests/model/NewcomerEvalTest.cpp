// The newcomers' mode of quillory-eval on cases small enough to work out by hand: the walk down a list, the NDCG of
// the picks after it, the groups of users held out, the summary of the walks, the static list it compares with and
// the EASE it feeds.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Ease.h"
#include "Newcomers.h"

namespace quillory::eval {
namespace {

// A list that is `order` less what the user rated, as the most-rated list is.
ListSource Fixed(std::vector<std::uint32_t> order) {
    return [order = std::move(order)](const UserList& rated, std::size_t count, std::vector<std::uint32_t>& list) {
        list.clear();
        for (std::uint32_t item : order) {
            const bool mine = std::any_of(rated.begin(), rated.end(), [&](const auto& r) { return r.first == item; });
            if (list.size() < count && !mine) {
                list.push_back(item);
            }
        }
    };
}

// Walks on eight items, each worked out step by step in the comments.
TEST(NewcomerEvalTest, WalksAsAPersonScrollsAList) {
    struct Case {
        const char* name;
        UserList truth;
        ListSource list;
        WalkRules rules;
        UserList rated;
        std::vector<std::size_t> lookedAt;
        std::size_t looked;
    };
    const ListSource inOrder = Fixed({0, 1, 2, 3, 4, 5, 6, 7});
    // Once item 1 is rated, item 7 goes to the top.
    const ListSource adaptive = [](const UserList& rated, std::size_t count, std::vector<std::uint32_t>& list) {
        const bool moved = std::any_of(rated.begin(), rated.end(), [](const auto& r) { return r.first == 1; });
        Fixed(moved ? std::vector<std::uint32_t>{7, 0, 2, 3, 4, 5, 6}
                    : std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7})(rated, count, list);
    };
    const std::vector<Case> cases{
        // [0 1]: 0 passed (1), 1 rated (2). Asked for 1 + 2: [0 2 3]: 0 skipped, 2 and 3 passed (3, 4), all passed
        // with no rating: asked for 3 + 2: [0 2 3 4 5]: 4 rated (5). Two ratings: done.
        {"two ratings", {{1, 5.0F}, {4, 3.0F}, {6, 4.0F}}, inOrder, {2, 400, 2}, {{1, 5.0F}, {4, 3.0F}}, {2, 5}, 5},
        // As above to 4 looked at, then [0 2 3 4 5]: 4 and 5 passed (5, 6), the limit: he stops with one rating.
        {"the limit", {{1, 5.0F}, {6, 4.0F}}, inOrder, {3, 6, 2}, {{1, 5.0F}}, {2}, 6},
        // Every movie seen: 0, 1, 2 rated at 1, 2, 3.
        {"all seen",
         {{0, 1.0F}, {1, 2.0F}, {2, 3.0F}},
         inOrder,
         {3, 400, 2},
         {{0, 1.0F}, {1, 2.0F}, {2, 3.0F}},
         {1, 2, 3},
         3},
        // [0 1]: 1 rated (2); the new list [7 0 2] is read from its top: 7 rated (3).
        {"read from the top", {{1, 5.0F}, {7, 2.0F}}, adaptive, {2, 400, 2}, {{1, 5.0F}, {7, 2.0F}}, {2, 3}, 3},
        // The list holds four items: [0 1]: 1 rated (2); [0 2 3]: 2, 3 passed (4); [0 2 3] again, shorter than the
        // five asked for and nothing new: it has run out.
        {"the list runs out", {{1, 5.0F}, {6, 4.0F}}, Fixed({0, 1, 2, 3}), {3, 400, 2}, {{1, 5.0F}}, {2}, 4},
        // He has seen nothing of it: eight passed, and the list runs out.
        {"nothing seen", {{9, 5.0F}}, inOrder, {15, 400, 32}, {}, {}, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Walk walk = WalkDown(c.truth, c.list, c.rules);
        EXPECT_EQ(walk.rated, c.rated);
        EXPECT_EQ(walk.lookedAt, c.lookedAt);
        EXPECT_EQ(walk.looked, c.looked);
    }
}

TEST(NewcomerEvalTest, RatingsAfterACheckpointAreTheWalksFirst) {
    Walk walk;
    walk.rated = {{3, 4.0F}, {1, 2.0F}, {7, 5.0F}};
    EXPECT_EQ(EnteredAfter(walk, 2), (UserList{{3, 4.0F}, {1, 2.0F}}));
    EXPECT_EQ(EnteredAfter(walk, 5), walk.rated); // a walk that stopped short: all it has
    EXPECT_TRUE(EnteredAfter(walk, 0).empty());
}

// The user rated items 0, 2, 3, 5, 8 with 5, 4, 2, 4, 5 and entered item 0: his hits are 2, 5 and 8, and the ideal
// DCG at 3 is 1 + 1/log2(3) + 1/2 = 2.1309297535714574.
TEST(NewcomerEvalTest, NdcgCountsHisOtherRatingsOfFourAndFive) {
    const UserList truth{{0, 5.0F}, {2, 4.0F}, {3, 2.0F}, {5, 4.0F}, {8, 5.0F}};
    const UserList entered{{0, 5.0F}};
    struct Case {
        const char* name;
        std::vector<std::uint32_t> list;
        std::size_t depth;
        double ndcg;
    };
    const std::vector<Case> cases{
        {"hits first and third", {5, 3, 8, 9, 2}, 3, 1.5 / 2.1309297535714574},
        {"a hit listed twice counts once", {2, 2}, 3, 1.0 / 2.1309297535714574},
        {"the entered rating is no hit", {0, 3, 9}, 3, 0.0},
        {"a 2 is no hit", {3}, 3, 0.0},
        {"all hits", {8, 2, 5}, 3, 1.0},
        // Depth 1: the ideal is 1.
        {"depth one", {2, 5}, 1, 1.0},
        {"empty", {}, 3, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<double> ndcg = NewcomerNdcg(c.list, truth, entered, c.depth);
        ASSERT_TRUE(ndcg.has_value());
        EXPECT_NEAR(*ndcg, c.ndcg, 1e-12);
    }
    // Every rating of 4 or 5 entered: nothing to find, and the user is not scored.
    EXPECT_FALSE(NewcomerNdcg({2, 5}, truth, UserList{{0, 5.0F}, {2, 4.0F}, {5, 4.0F}, {8, 5.0F}}, 3).has_value());
}

TEST(NewcomerEvalTest, HoldsOutOnlyUsersWithEnoughRatingsInDisjointGroups) {
    // Users 0, 2, 4, 5 and 7 have 20 ratings or more.
    const std::vector<std::uint32_t> perUser{25, 3, 20, 19, 40, 20, 0, 22};
    const auto two = HeldOutGroups(perUser, 20, 11, 2);
    ASSERT_EQ(two.size(), 2U);
    EXPECT_EQ(two[0].size(), 3U);
    EXPECT_EQ(two[1].size(), 2U);
    std::vector<std::uint32_t> all;
    for (const auto& group : two) {
        EXPECT_TRUE(std::is_sorted(group.begin(), group.end()));
        all.insert(all.end(), group.begin(), group.end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, (std::vector<std::uint32_t>{0, 2, 4, 5, 7}));
    // Ten groups of five users: one each in the first five.
    const auto ten = HeldOutGroups(perUser, 20, 11, 10);
    ASSERT_EQ(ten.size(), 10U);
    for (std::size_t g = 0; g < 10; ++g) {
        EXPECT_EQ(ten[g].size(), g < 5 ? 1U : 0U) << g;
    }
    // The same seed, the same groups; another seed another order (five users, so some group differs).
    EXPECT_EQ(HeldOutGroups(perUser, 20, 11, 10), ten);
    EXPECT_NE(HeldOutGroups(perUser, 20, 12, 10), ten);
}

TEST(NewcomerEvalTest, SummarisesMoviesLookedAtUntilTheTarget) {
    auto walk = [](std::size_t ratings, std::vector<std::size_t> lookedAt, std::size_t looked) {
        Walk w;
        w.rated.assign(ratings, {0, 4.0F});
        w.lookedAt = std::move(lookedAt);
        w.looked = looked;
        return w;
    };
    // Until 2 ratings: 5, 3, 400 (stopped short) and 8 looked at: sorted 3, 5, 8, 400.
    const std::vector<Walk> walks{walk(2, {2, 5}, 5), walk(3, {1, 3, 9}, 9), walk(1, {7}, 400), walk(2, {4, 8}, 8)};
    const LookedSummary s = SummariseLooked(walks, 2);
    EXPECT_DOUBLE_EQ(s.median, 6.5);
    EXPECT_DOUBLE_EQ(s.mean, 104.0);
    EXPECT_EQ(s.never, 1U);
    EXPECT_EQ(s.walks, 4U);
    // An odd count: the middle one.
    const LookedSummary odd = SummariseLooked({walks[0], walks[1], walks[3]}, 2);
    EXPECT_DOUBLE_EQ(odd.median, 5.0);
    EXPECT_DOUBLE_EQ(odd.mean, 16.0 / 3.0);
    EXPECT_EQ(odd.never, 0U);
}

// Item 0: 5 5 5 5 (entropy 0); item 1: 1 5 (1 bit, times 2); item 2: 1 2 3 (log2 3, times 3: 4.75); item 3: 4 4 5
// (0.918 bits, times 3: 2.75); item 4: no rating.
TEST(NewcomerEvalTest, PopularityTimesEntropyOrdersByBoth) {
    const std::vector<model::Rating> ratings{{0, 0, 5.0F}, {1, 0, 5.0F}, {2, 0, 5.0F}, {3, 0, 5.0F},
                                             {0, 1, 1.0F}, {1, 1, 5.0F}, {0, 2, 1.0F}, {1, 2, 2.0F},
                                             {2, 2, 3.0F}, {0, 3, 4.0F}, {1, 3, 4.0F}, {2, 3, 5.0F}};
    EXPECT_EQ(PopularityEntropyOrder(ratings, 5), (std::vector<std::uint32_t>{2, 3, 1, 0, 4}));
}

// Users {0, 1} and {1, 2}, penalty 1: X'X + I = [2 1 0; 1 3 1; 0 1 2], whose inverse is [5 -2 1; -2 4 -2; 1 -2 5]
// / 8. A user of item 0 scores item 1 at 2/4 and item 2 at -1/5; a user of item 2 scores item 1 at 2/4 and item 0 at
// -1/5.
TEST(NewcomerEvalTest, EaseRanksByTheHandWorkedInverse) {
    const std::vector<CEase::UserList> rated{{{0, 5.0F}, {1, 3.0F}}, {{1, 4.0F}, {2, 1.0F}}};
    CEase ease(rated, {1, 0, 2}, 3);
    ease.Fit(1.0);
    std::vector<std::uint32_t> list;
    auto none = [](std::uint32_t) { return false; };
    ease.Rank(
        {{0, 5.0F}}, [](std::uint32_t j) { return j == 0; }, 5, list);
    EXPECT_EQ(list, (std::vector<std::uint32_t>{1, 2}));
    ease.Rank(
        {{2, 5.0F}}, [](std::uint32_t j) { return j == 2; }, 5, list);
    EXPECT_EQ(list, (std::vector<std::uint32_t>{1, 0}));
    // Nothing left out, his own item scores -1: at depth 1, item 1 alone.
    ease.Rank({{0, 5.0F}}, none, 1, list);
    EXPECT_EQ(list, (std::vector<std::uint32_t>{1}));
    // Limited to the two most rated (items 1 and 0), item 2 is never ranked.
    CEase two(rated, {1, 0, 2}, 2);
    two.Fit(1.0);
    two.Rank({{0, 5.0F}}, none, 5, list);
    EXPECT_EQ(std::set<std::uint32_t>(list.begin(), list.end()), (std::set<std::uint32_t>{0, 1}));
}

} // namespace
} // namespace quillory::eval
