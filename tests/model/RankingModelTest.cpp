#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "Checksum.h"
#include "EngineFixtures.h"
#include "ModelTestData.h"
#include "RankingModel.h"
#include "RatingRows.h"

namespace quillory::model {
namespace {

namespace fs = std::filesystem;
using Ratings = std::vector<std::pair<std::uint32_t, float>>;

// Four items, three users, worked out by hand with alpha 1, beta 0, low ratings silent and no shrinking:
//   user 0 rates items 0, 1, 2 with 5, 5, 2; user 1 rates 0, 2 with 4, 5; user 2 rates 1, 3, 0 with 4, 5, 1.
// Links (raters' votes 1/3, 1/2, 1/3 each, times 1 / the item's raters): 0 -> 2: 1/6, 0 -> 1: 1/9;
// 1 -> 0: 1/6, 1 -> 3: 1/6; 2 -> 0: 1/4; 3 -> 1: 1/3. Liked shares 2/3, 1, 1/2, 1 against 6/8 overall: the
// newcomers' list is items 1 and 3 (liked twice and once), then 0 and 2. The links alone: no factors.
RankingSettings HandSettings() {
    RankingSettings s;
    s.factors = 0;
    s.factorMinRatings = 1;
    s.minPersonalRatings = 2;
    s.newcomerShrink = 0.0;
    s.alpha = 1.0;
    s.beta = 0.0;
    s.lowWeight = 0.0;
    return s;
}

CRankingModel HandModel(const RankingSettings& settings = HandSettings()) {
    const std::vector<Rating> ratings{{0, 0, 5.0F}, {0, 1, 5.0F}, {0, 2, 2.0F}, {1, 0, 4.0F},
                                      {1, 2, 5.0F}, {2, 1, 4.0F}, {2, 3, 5.0F}, {2, 0, 1.0F}};
    CRankingModel model(settings);
    model.Train(ratings, 3, 4);
    return model;
}

TEST(RankingModelTest, HandWorkedListsSimilarItemsAndReasons) {
    const CRankingModel model = HandModel();
    EXPECT_EQ(model.Similar(0, 10), (std::vector<std::uint32_t>{2, 1}));
    EXPECT_EQ(model.Similar(1, 10), (std::vector<std::uint32_t>{0, 3})); // a tie: the lower index first
    EXPECT_EQ(model.Similar(3, 10), (std::vector<std::uint32_t>{1}));
    EXPECT_EQ(model.Similar(0, 1), (std::vector<std::uint32_t>{2}));
    // Kept to one link each, an item keeps its strongest, and of two equal the lower index.
    RankingSettings one = HandSettings();
    one.neighbours = 1;
    const CRankingModel cut = HandModel(one);
    EXPECT_EQ(cut.Similar(0, 10), (std::vector<std::uint32_t>{2}));
    EXPECT_EQ(cut.Similar(1, 10), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(cut.Similar(3, 10), (std::vector<std::uint32_t>{1}));
    // Every item liked by every rater: a walk touches them all, then goes on over items it has seen.
    CRankingModel dense(HandSettings());
    dense.Train(std::vector<Rating>{{0, 0, 5.0F}, {0, 1, 5.0F}, {1, 0, 5.0F}, {1, 1, 5.0F}}, 2, 2);
    EXPECT_EQ(dense.Similar(0, 10), (std::vector<std::uint32_t>{1}));
    EXPECT_EQ(dense.Similar(1, 10), (std::vector<std::uint32_t>{0}));

    // Item 1 gets 1/9 from item 0 and 1/3 from item 3, so item 3 is its reason; item 2 gets 1/6 from item 0.
    const Ratings personal{{0, 5.0F}, {3, 4.0F}};
    const auto picks = model.Rank(personal, 5);
    ASSERT_EQ(picks.size(), 2U);
    EXPECT_EQ(picks[0].item, 1U);
    EXPECT_FLOAT_EQ(picks[0].score, 4.0F / 9.0F);
    EXPECT_EQ(picks[0].because, 3U);
    EXPECT_EQ(picks[1].item, 2U);
    EXPECT_FLOAT_EQ(picks[1].score, 1.0F / 6.0F);
    EXPECT_EQ(picks[1].because, 0U);

    // A user whose only liked item links to nothing unrated gets the newcomers' order, without reasons.
    const auto silent = model.Rank(Ratings{{2, 5.0F}, {0, 2.0F}}, 3);
    ASSERT_EQ(silent.size(), 2U);
    EXPECT_EQ(silent[0].item, 1U);
    EXPECT_EQ(silent[1].item, 3U);

    std::vector<std::uint32_t> newcomer;
    for (const RankedItem& pick : model.Rank({}, 4)) {
        newcomer.push_back(pick.item);
        EXPECT_EQ(pick.because, kNoItem);
    }
    EXPECT_EQ(newcomer, (std::vector<std::uint32_t>{1, 3, 0, 2}));
}

// With factors, a personal list mixes the two scores, each scaled by its largest over the candidates. All of the
// links': the hand-worked list above with its scores over the largest, 4/9; none: two groups of users who each rate
// only their own three items give a new member of a group the rest of that group first, for the item he rated.
TEST(RankingModelTest, FactorsAndLinksMixAsWorkedByHand) {
    RankingSettings links = HandSettings();
    links.factors = 2;
    links.linkShare = 1.0;
    const auto picks = HandModel(links).Rank(Ratings{{0, 5.0F}, {3, 4.0F}}, 2);
    ASSERT_EQ(picks.size(), 2U);
    EXPECT_EQ(picks[0].item, 1U);
    EXPECT_FLOAT_EQ(picks[0].score, 1.0F);
    EXPECT_EQ(picks[0].because, 3U);
    EXPECT_EQ(picks[1].item, 2U);
    EXPECT_FLOAT_EQ(picks[1].score, 0.375F); // (1/6) / (4/9)
    EXPECT_EQ(picks[1].because, 0U);

    std::vector<Rating> groups;
    for (std::uint32_t u = 0; u < 8; ++u) {
        for (std::uint32_t j = 0; j < 3; ++j) {
            groups.push_back({u, (u < 4 ? 0U : 3U) + j, 5.0F});
        }
    }
    RankingSettings factors = HandSettings();
    factors.factors = 2;
    factors.linkShare = 0.0;
    factors.minPersonalRatings = 1;
    CRankingModel model(factors);
    model.Train(groups, 8, 6);
    struct Case {
        Ratings rated;
        std::set<std::uint32_t> first; // his first two picks
        std::uint32_t because;
    };
    const std::vector<Case> cases{{{{0, 5.0F}}, {1, 2}, 0}, {{{4, 5.0F}}, {3, 5}, 4}, {{{2, 4.0F}}, {0, 1}, 2}};
    for (const Case& c : cases) {
        const auto list = model.Rank(c.rated, 5);
        ASSERT_EQ(list.size(), 5U);
        EXPECT_EQ((std::set<std::uint32_t>{list[0].item, list[1].item}), c.first);
        EXPECT_EQ(list[0].because, c.because);
        EXPECT_EQ(list[1].because, c.because);
        EXPECT_GT(list[1].score, list[2].score);
    }
}

// The contract every list keeps, over counts from none to more than there are and over newcomers and others.
TEST(RankingModelTest, ListsKeepTheirContract) {
    const test::LowRankData data = test::MakePairedItemData(80, 30);
    CRankingModel model;
    model.Train(data.train, data.users, data.items);
    std::vector<Ratings> users(data.users);
    std::vector<std::uint32_t> rated(data.items, 0), liked(data.items, 0);
    for (const Rating& r : data.train) {
        users[r.user].emplace_back(r.item, r.value);
        ++rated[r.item];
        liked[r.item] += r.value >= 4.0F ? 1 : 0;
    }
    const Ratings few(users[0].begin(), users[0].begin() + 5);
    struct Case {
        const char* name;
        Ratings ratings;
        std::size_t count;
    };
    const std::size_t unrated = data.items - users[1].size();
    const std::vector<Case> cases{{"none, 0", {}, 0},
                                  {"none, 1", {}, 1},
                                  {"none, all", {}, data.items + 5},
                                  {"newcomer, 10", few, 10},
                                  {"newcomer, all", few, data.items},
                                  {"personal, 0", users[1], 0},
                                  {"personal, 1", users[1], 1},
                                  {"personal, all unrated", users[1], unrated},
                                  {"personal, more", users[1], unrated + 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto picks = model.Rank(c.ratings, c.count);
        ASSERT_EQ(picks.size(), std::min(c.count, data.items - c.ratings.size()));
        std::set<std::uint32_t> seen;
        for (const RankedItem& pick : picks) {
            EXPECT_TRUE(seen.insert(pick.item).second) << pick.item;
            const auto mine =
                std::find_if(c.ratings.begin(), c.ratings.end(), [&](const auto& r) { return r.first == pick.item; });
            EXPECT_EQ(mine, c.ratings.end()) << pick.item;
            if (c.ratings.size() < model.Settings().minPersonalRatings) {
                EXPECT_EQ(pick.because, kNoItem);
            } else if (pick.because != kNoItem) {
                const auto reason = std::find_if(c.ratings.begin(), c.ratings.end(),
                                                 [&](const auto& r) { return r.first == pick.because; });
                ASSERT_NE(reason, c.ratings.end());
                EXPECT_GE(reason->second, 4.0F);
            }
        }
        // A newcomer's first picks are well liked: a share of 4s and 5s above a third (every pair is liked or
        // disliked as a whole, so about half of all ratings are).
        if (c.ratings.size() < model.Settings().minPersonalRatings) {
            for (std::size_t k = 0; k < std::min<std::size_t>(picks.size(), 5); ++k) {
                EXPECT_GT(3 * liked[picks[k].item], rated[picks[k].item]) << picks[k].item;
            }
        }
    }
    const auto similar = model.Similar(4, 1000);
    EXPECT_EQ(similar.front(), 5U); // its pair
    EXPECT_EQ(std::count(similar.begin(), similar.end(), 4U), 0);
    EXPECT_TRUE(model.Similar(4, 0).empty());
}

// A rating just entered counts in the next list: the item rated leaves it and its pair, liked by everyone who liked
// it, comes first with it as the reason.
TEST(RankingModelTest, ARatingJustEnteredChangesTheNextList) {
    const test::LowRankData data = test::MakePairedItemData(80, 30);
    CRankingModel model;
    model.Train(data.train, data.users, data.items);
    Ratings mine;
    for (const Rating& r : data.train) {
        if (r.user == 3) {
            mine.emplace_back(r.item, r.value);
        }
    }
    const auto before = model.Rank(mine, 5);
    ASSERT_FALSE(before.empty());
    const std::uint32_t top = before.front().item;
    const std::uint32_t pair = top ^ 1U;
    ASSERT_TRUE(std::none_of(mine.begin(), mine.end(), [&](const auto& r) { return r.first == pair; }));
    mine.emplace_back(pair, 5.0F);
    const auto after = model.Rank(mine, 5);
    EXPECT_TRUE(std::none_of(after.begin(), after.end(), [&](const RankedItem& p) { return p.item == pair; }));
    EXPECT_EQ(after.front().item, top);
    EXPECT_EQ(after.front().because, pair);
}

// Beyond the work limit every user's lists are cut to a sample: nearly every item still finds its pair among its
// five most alike, and the lists keep their length.
TEST(RankingModelTest, AWorkLimitKeepsWhatMatters) {
    const test::LowRankData data = test::MakePairedItemData(200, 40);
    RankingSettings settings;
    settings.workLimit = 60000; // about a third of this data's work
    CRankingModel model(settings);
    model.Train(data.train, data.users, data.items);
    std::uint32_t found = 0;
    for (std::uint32_t item = 0; item < data.items; ++item) {
        const auto similar = model.Similar(item, 5);
        found += std::find(similar.begin(), similar.end(), item ^ 1U) != similar.end() ? 1 : 0;
    }
    EXPECT_GE(found, data.items * 9 / 10);
    EXPECT_EQ(model.Rank({}, 25).size(), 25U);
    const quillory::test::CTempFolder folder;
    EXPECT_THROW(CRankingModel().Save(folder.Path() / "never-written.cache", "x"), std::runtime_error);
}

std::vector<RankedItem> RankOnThreads(const char* threads, const test::LowRankData& data, const Ratings& user) {
    ::setenv("QUILLORY_THREADS", threads, 1);
    CRankingModel model;
    model.Train(data.train, data.users, data.items);
    ::unsetenv("QUILLORY_THREADS");
    return model.Rank(user, 20);
}

TEST(RankingModelTest, ThreadCountChangesNothing) {
    const test::LowRankData data = test::MakePairedItemData(300, 200);
    Ratings user;
    for (const Rating& r : data.train) {
        if (r.user == 7) {
            user.emplace_back(r.item, r.value);
        }
    }
    const auto one = RankOnThreads("1", data, user), two = RankOnThreads("2", data, user);
    // Rows by user on three threads, asked for, train the same model as well; a rating beyond the shape is refused.
    const Rows byUser = GroupRatings(data.train, data.users, true);
    CRankingModel fromRows;
    fromRows.Train(CRowsByUser(byUser), data.users, data.items, 3);
    const auto three = fromRows.Rank(user, 20);
    ASSERT_EQ(one.size(), two.size());
    ASSERT_EQ(one.size(), three.size());
    for (std::size_t k = 0; k < one.size(); ++k) {
        for (const auto* other : {&two, &three}) {
            EXPECT_EQ(one[k].item, (*other)[k].item);
            EXPECT_EQ(one[k].score, (*other)[k].score);
            EXPECT_EQ(one[k].because, (*other)[k].because);
        }
    }
    EXPECT_THROW(fromRows.Train(data.train, data.users - 1, data.items), std::invalid_argument);
    EXPECT_THROW(fromRows.Train(CRowsByUser(byUser), data.users, data.items - 1), std::invalid_argument);
    // Rows that change between the reads that count and the read that places are refused, never written past.
    class CChangingRows : public IRatedRows {
    public:
        explicit CChangingRows(const Rows& rows) : m_rows(rows) {}
        std::uint32_t Users() const override { return m_rows.Users(); }
        std::size_t Count(std::uint32_t user) const override { return m_rows.Count(user); }
        void Row(std::uint32_t user, std::vector<std::pair<std::uint32_t, float>>& out) const override {
            m_rows.Row(user, out);
            if (++m_reads > 2 * std::size_t(Users())) { // the third pass: every rating moves to item 0, liked
                for (auto& [item, value] : out) {
                    item = 0;
                    value = 5.0F;
                }
            }
        }

    private:
        CRowsByUser m_rows;
        mutable std::size_t m_reads = 0;
    };
    EXPECT_THROW(fromRows.Train(CChangingRows(byUser), data.users, data.items, 1), std::invalid_argument);
}

class RankingCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_file = m_folder.Path() / "ranking.cache";
        m_model.Save(m_file, "data-A");
        std::ifstream in(m_file, std::ios::binary);
        m_bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void Write(const std::vector<char>& bytes) {
        std::ofstream out(m_file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    bool LoadsInto(CRankingModel& model, ModelShape shape = {3, 4, 8}) { return model.Load(m_file, "data-A", shape); }

    CRankingModel m_model = HandModel();
    quillory::test::CTempFolder m_folder;
    fs::path m_file;
    std::vector<char> m_bytes;
};

TEST_F(RankingCacheTest, RoundTripGivesTheSameLists) {
    CRankingModel loaded(HandSettings());
    ASSERT_TRUE(LoadsInto(loaded));
    EXPECT_EQ(loaded.Similar(0, 10), m_model.Similar(0, 10));
    const Ratings personal{{0, 5.0F}, {3, 4.0F}};
    const auto a = loaded.Rank(personal, 4), b = m_model.Rank(personal, 4);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
        EXPECT_EQ(a[k].item, b[k].item);
        EXPECT_EQ(a[k].because, b[k].because);
    }
    EXPECT_EQ(loaded.Summary(), m_model.Summary());
}

// With factors, the loaded model gives the same lists to the bit: its factors are kept, their Gram matrix computed
// again. A file cut short in the factors, or asked for with another number of them, is refused.
TEST_F(RankingCacheTest, FactorsRoundTripToTheBit) {
    RankingSettings settings = HandSettings();
    settings.factors = 3;
    settings.linkShare = 0.5;
    settings.minPersonalRatings = 1;
    const CRankingModel trained = HandModel(settings);
    trained.Save(m_file, "data-A");
    CRankingModel loaded(settings);
    ASSERT_TRUE(LoadsInto(loaded));
    for (const Ratings& rated : {Ratings{{0, 5.0F}}, Ratings{{1, 4.0F}, {2, 2.0F}}, Ratings{{3, 5.0F}, {0, 4.0F}}}) {
        const auto a = loaded.Rank(rated, 4), b = trained.Rank(rated, 4);
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t k = 0; k < a.size(); ++k) {
            EXPECT_EQ(a[k].item, b[k].item);
            EXPECT_EQ(a[k].score, b[k].score);
            EXPECT_EQ(a[k].because, b[k].because);
        }
    }
    std::ifstream in(m_file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // The checksum (8 bytes) last, the factors (4 items times 3, 4 bytes each) before it.
    std::vector<char> cut(bytes.begin(), bytes.end() - 12);
    cut.insert(cut.end(), bytes.end() - 8, bytes.end());
    Write(cut);
    EXPECT_FALSE(CRankingModel(settings).Load(m_file, "data-A", ModelShape{3, 4, 8}));
    Write(bytes);
    RankingSettings fewer = settings;
    fewer.factors = 2;
    EXPECT_FALSE(CRankingModel(fewer).Load(m_file, "data-A", ModelShape{3, 4, 8}));
    EXPECT_TRUE(CRankingModel(settings).Load(m_file, "data-A", ModelShape{3, 4, 8}));
}

TEST_F(RankingCacheTest, RefusesAnyFileThatIsNotExactlyRight) {
    // The header: magic (8), version (4), fingerprint length (8) and "data-A", settings length (8) and text, then
    // the counts: users, items, pool (u32), ratings, links (u64).
    const std::size_t counts = 8 + 4 + 8 + 6 + 8 + HandSettings().Describe().size();
    auto changed = [&](std::size_t at, std::vector<char> with) {
        std::vector<char> bytes = m_bytes;
        std::copy(with.begin(), with.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
        return bytes;
    };
    struct Case {
        const char* name;
        std::vector<char> bytes;
        ModelShape shape;
        RankingSettings settings;
    };
    RankingSettings other = HandSettings();
    other.beta = 0.5;
    const std::vector<char> huge(8, '\x7f');
    const std::vector<Case> cases{
        {"other shape", m_bytes, {3, 5, 8}, HandSettings()},
        {"more ratings than the data", m_bytes, {3, 4, 7}, HandSettings()},
        {"other settings", m_bytes, {3, 4, 8}, other},
        {"flipped byte",
         changed(m_bytes.size() - 20, {char(m_bytes[m_bytes.size() - 20] ^ 1)}),
         {3, 4, 8},
         HandSettings()},
        {"huge link count", changed(counts + 20, huge), {3, 4, 8}, HandSettings()},
        {"huge item count", changed(counts + 4, {'\xff', '\xff', '\xff', '\x0f'}), {3, 4, 8}, HandSettings()},
        {"cut short", std::vector<char>(m_bytes.begin(), m_bytes.end() - 1), {3, 4, 8}, HandSettings()},
        {"empty", {}, {3, 4, 8}, HandSettings()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Write(c.bytes);
        CRankingModel model(c.settings);
        EXPECT_FALSE(model.Load(m_file, "data-A", c.shape));
        EXPECT_TRUE(model.Rank({}, 3).empty()); // left as it was: untrained
    }
    Write(m_bytes);
    CRankingModel model(HandSettings());
    EXPECT_FALSE(model.Load(m_file, "data-B"));
    EXPECT_TRUE(model.Load(m_file, "data-A"));
}

// Lists the model never makes, in a file whose checksum is right (anyone who can write the file can make it so): a
// movie linked to itself, one listed twice, links out of their order (the strongest first, of equal weights the lower
// item first), weights that are not finite or below zero, and a newcomers' order listing a movie twice. Each is
// refused, or GetSimilarMovies would list the movie itself or one twice.
TEST_F(RankingCacheTest, RefusesListsTheModelNeverMakesUnderARightChecksum) {
    // After the header (see above) and its counts (28 bytes), the hand model's arrays: rated, liked and order (4
    // items, u32), start (5, u64), then its 6 links' items (u32) and weights (f32): item 0 links to 2 and 1 (1/6,
    // 1/9), item 1 to 0 and 3 (1/6 each), item 2 to 0 (1/4), item 3 to 1 (1/3).
    const std::size_t arrays = 8 + 4 + 8 + 6 + 8 + HandSettings().Describe().size() + 28;
    const std::size_t order = arrays + 2 * 16, neighbour = arrays + 3 * 16 + 5 * 8, weight = neighbour + 6 * 4;
    ASSERT_EQ(m_bytes.size(), weight + 6 * 4 + 8);
    const auto put = [](std::vector<char>& bytes, std::size_t at, auto value) {
        std::memcpy(bytes.data() + at, &value, sizeof value);
    };
    using Change = std::function<void(std::vector<char>&)>;
    struct Case {
        const char* what;
        Change change;
        bool loads;
    };
    const Case cases[] = {
        {"as saved", [](std::vector<char>&) {}, true},
        {"a movie linked to itself", [&](auto& b) { put(b, neighbour + 1 * 4, std::uint32_t{0}); }, false},
        {"a movie listed twice", [&](auto& b) { put(b, neighbour + 1 * 4, std::uint32_t{2}); }, false},
        {"weights out of order",
         [&](auto& b) {
             put(b, weight + 0 * 4, 1.0F / 9);
             put(b, weight + 1 * 4, 1.0F / 6);
         },
         false},
        {"equal weights, the higher item first",
         [&](auto& b) {
             put(b, neighbour + 2 * 4, std::uint32_t{3});
             put(b, neighbour + 3 * 4, std::uint32_t{0});
         },
         false},
        {"a weight that is not a number", [&](auto& b) { put(b, weight + 4 * 4, std::nanf("")); }, false},
        {"an infinite weight", [&](auto& b) { put(b, weight + 0 * 4, HUGE_VALF); }, false},
        {"a weight below zero", [&](auto& b) { put(b, weight + 5 * 4, -1.0F / 3); }, false},
        {"the newcomers' order listing a movie twice", [&](auto& b) { put(b, order + 4, std::uint32_t{1}); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<char> bytes = m_bytes;
        c.change(bytes);
        const std::uint64_t sum = Checksum(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size() - 8);
        put(bytes, bytes.size() - 8, sum);
        Write(bytes);
        CRankingModel model(HandSettings());
        EXPECT_EQ(LoadsInto(model), c.loads);
        EXPECT_EQ(model.Similar(0, 10), c.loads ? (std::vector<std::uint32_t>{2, 1}) : std::vector<std::uint32_t>{});
    }
}

} // namespace
} // namespace quillory::model
