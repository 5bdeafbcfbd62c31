// The ranking calls behind CMovieTable: top picks and their reasons, similar movies, a user's ratings newest first,
// catalogue numbers, movies marked not interested; live across two programs on one store, and the same after a warm
// start.
#include <algorithm>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "EngineFixtures.h"
#include "MovieTable.h"

namespace quillory::test {
namespace {

namespace fs = std::filesystem;

constexpr int kMovies = 31;

// The small data of 30 movies, a 31st listed last with the lowest id, and user 99, whose three ratings pin the order
// of a user's ratings: two at the same second, listed in the catalogue against the order of their ids.
std::string WriteData(const CTempFolder& folder) {
    const fs::path manifest = WriteSmallTweetings(folder, kMovies - 1, 40);
    folder.Write("movies.dat", folder.Read("movies.dat") + "999999::Movie 30 (2001)::Drama\n");
    folder.Write("ratings.dat",
                 folder.Read("ratings.dat") +
                     "99::1000005::8::1400000000\n99::999999::6::1400000000\n99::1000009::2::1300000000\n");
    return manifest.string();
}

std::vector<long> Ids(const std::vector<MoviePick>& picks) {
    std::vector<long> ids;
    for (const MoviePick& pick : picks) {
        ids.push_back(pick.movieId);
    }
    return ids;
}

TEST(RankingCalls, ContractOfEveryCall) {
    CTempFolder folder;
    CMovieTable table;
    table.Init(WriteData(folder));
    table.InitMatrices();
    const long fresh = table.InsertUser("fresh", "pw");
    const long fourteen = table.InsertUser("fourteen", "pw");
    for (int m = 0; m < 14; ++m) {
        table.SetNewRating(MovieId(m), fourteen, 5 - m % 5);
    }
    long rated2 = 0; // data user 2's ratings
    double average = 0;
    table.GetInfo(2, average, rated2);

    const struct {
        const char* what;
        long user;
        int count;
        long expected; // picks
        bool newcomer; // no reasons
    } cases[] = {
        {"data user, a few", 2, 5, 5, false},
        {"data user, more than unrated", 2, 100, kMovies - rated2, false},
        {"count 0", 2, 0, 0, false},
        {"count -1", 2, -1, 0, false},
        {"new account", fresh, 10, 10, true},
        {"new account, all", fresh, 100, kMovies, true},
        {"14 ratings", fourteen, 100, kMovies - 14, true},
        {"data user of 3 ratings", 99, 4, 4, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<MoviePick> picks = table.GetTopPicksWithReasons(c.user, c.count);
        const std::vector<long> ids = Ids(picks);
        ASSERT_EQ(static_cast<long>(picks.size()), c.expected);
        EXPECT_EQ(ids, table.GetTopPicks(c.user, c.count)) << "the same movies in the same order";
        EXPECT_EQ(std::set<long>(ids.begin(), ids.end()).size(), ids.size()) << "a repeat";
        if (c.count > 3) {
            const std::vector<long> top3 = table.GetTopPicks(c.user, 3);
            EXPECT_TRUE(std::equal(top3.begin(), top3.end(), picks.begin(), [](long id, const MoviePick& pick) {
                return id == pick.movieId;
            })) << "best first: a shorter list is the start of a longer one";
        }
        for (const MoviePick& pick : picks) {
            EXPECT_EQ(table.GetRating(pick.movieId, c.user, ""), 0) << pick.movieId << " is rated";
            EXPECT_EQ(pick.predicted, table.GetPredictedRating(pick.movieId, c.user));
            EXPECT_EQ(pick.becauseStars,
                      pick.becauseMovieId == 0 ? 0 : table.GetRating(pick.becauseMovieId, c.user, ""));
            if (c.newcomer) {
                EXPECT_EQ(pick.becauseMovieId, 0);
            } else if (pick.becauseMovieId != 0) {
                EXPECT_GE(pick.becauseStars, 4) << "a reason is a movie he rated highly";
            }
        }
    }

    const std::vector<long> similar = table.GetSimilarMovies(MovieId(4), 5);
    EXPECT_EQ(similar.size(), 5U);
    EXPECT_EQ(std::count(similar.begin(), similar.end(), MovieId(4)), 0);
    EXPECT_EQ(std::set<long>(similar.begin(), similar.end()).size(), similar.size());
    EXPECT_TRUE(table.GetSimilarMovies(MovieId(4), 0).empty());
    EXPECT_TRUE(table.GetSimilarMovies(MovieId(4), -1).empty());
    EXPECT_EQ(table.GetMovieNumber(MovieId(11)), 12);

    const std::vector<UserRating> ratings = table.GetUserRatings(99);
    ASSERT_EQ(ratings.size(), 3U);
    EXPECT_EQ(ratings[0].movieId, 999999); // the same second: by movie id
    EXPECT_EQ(ratings[0].stars, 3);
    EXPECT_EQ(ratings[0].timestamp, 1400000000);
    EXPECT_EQ(ratings[1].movieId, 1000005);
    EXPECT_EQ(ratings[1].stars, 4);
    EXPECT_EQ(ratings[2].movieId, 1000009);
    EXPECT_EQ(ratings[2].timestamp, 1300000000);
    EXPECT_EQ(table.GetUserRatings(fourteen).size(), 14U);
    EXPECT_TRUE(table.GetUserRatings(4242).empty());

    const std::string unknownMovie = "There is no movie with the id 5 in the list. Pick a movie from the list.";
    const std::string nobody = "Nobody is logged in. Log in first.";
    const std::string unknownUser = "No user with the id 4242 is known. Log in again.";
    for (const auto& [call, text] : std::vector<std::pair<std::function<void()>, std::string>>{
             {[&] { table.GetTopPicks(4242, 5); }, unknownUser},
             {[&] { table.GetTopPicksWithReasons(4242, 5); }, unknownUser},
             {[&] { table.GetTopPicks(NO_USER, 5); }, nobody},
             {[&] { table.GetTopPicksWithReasons(NO_USER, 5); }, nobody},
             {[&] { table.GetUserRatings(NO_USER); }, nobody},
             {[&] { table.GetSimilarMovies(5, 5); }, unknownMovie},
             {[&] { table.GetMovieNumber(5); }, unknownMovie},
         }) {
        EXPECT_EQ(CatchEngineError(call).text, text);
    }
}

TEST(RankingCalls, ARatingEnteredInAnotherProgramChangesTheNextPicks) {
    CTempFolder folder;
    const std::string manifest = WriteData(folder);
    CMovieTable first;
    first.Init(manifest);
    first.InitMatrices();
    CMovieTable second;
    second.Init(manifest);
    second.InitMatrices();

    const std::vector<long> before = first.GetTopPicks(2, 5);
    ASSERT_EQ(before.size(), 5U);
    second.SetNewRating(before[0], 2, 5);
    const std::vector<long> after = first.GetTopPicks(2, 5);
    EXPECT_EQ(after.size(), 5U);
    EXPECT_EQ(std::count(after.begin(), after.end(), before[0]), 0);
    EXPECT_EQ(first.GetUserRatings(2).front().movieId, before[0]);
    EXPECT_EQ(first.GetUserRatings(2).front().stars, 5);

    // An account registered and rating in the other program has picks here at once, without his ratings.
    const long account = second.InsertUser("elsewhere", "pw");
    second.SetNewRating(after[0], account, 4);
    const std::vector<long> his = first.GetTopPicks(account, kMovies);
    EXPECT_EQ(his.size(), static_cast<std::size_t>(kMovies - 1));
    EXPECT_EQ(std::count(his.begin(), his.end(), after[0]), 0);
}

TEST(RankingCalls, AMovieMarkedNotInterestedLeavesThePicksForGoodAndComesBack) {
    CTempFolder folder;
    const std::string manifest = WriteData(folder);
    CMovieTable table;
    table.Init(manifest);
    table.InitMatrices();
    CMovieTable other; // another program on the same store, started before any mark
    other.Init(manifest);
    other.InitMatrices();
    long rated2 = 0;
    double average = 0;
    table.GetInfo(2, average, rated2);

    const std::vector<long> before = table.GetTopPicks(2, 8);
    ASSERT_EQ(before.size(), 8U);
    EXPECT_TRUE(table.GetNotInterested(2).empty());
    table.SetNotInterested(before[0], 2, true);
    table.SetNotInterested(before[2], 2, true);
    table.SetNotInterested(before[0], 2, true); // set already: its place in the order stays
    // The rest keep their order, and the list is filled up from below.
    const std::vector<long> expected = {before[1], before[3], before[4], before[5], before[6]};
    EXPECT_EQ(table.GetTopPicks(2, 5), expected);
    EXPECT_EQ(Ids(table.GetTopPicksWithReasons(2, 5)), expected);
    EXPECT_EQ(table.GetTopPicks(2, 100).size(), static_cast<std::size_t>(kMovies - rated2 - 2));
    EXPECT_EQ(table.GetNotInterested(2), (std::vector<long>{before[2], before[0]})); // most recently hidden first

    // The other program sees the marks at once, and a program started later finds them in the store.
    EXPECT_EQ(other.GetNotInterested(2), (std::vector<long>{before[2], before[0]}));
    EXPECT_EQ(other.GetTopPicks(2, 5), expected);
    {
        CMovieTable later;
        later.Init(manifest);
        later.InitMatrices();
        EXPECT_EQ(later.GetNotInterested(2), (std::vector<long>{before[2], before[0]}));
        EXPECT_EQ(later.GetTopPicks(2, 5), expected);
    }

    // Shown again in the other program: back in its place here, and hidden again it is the most recent.
    other.SetNotInterested(before[0], 2, false);
    EXPECT_EQ(table.GetNotInterested(2), (std::vector<long>{before[2]}));
    EXPECT_EQ(table.GetTopPicks(2, 3), (std::vector<long>{before[0], before[1], before[3]}));
    table.SetNotInterested(before[2], 2, false);
    table.SetNotInterested(before[2], 2, false); // nothing to show again
    table.SetNotInterested(before[1], 2, true);
    table.SetNotInterested(before[2], 2, true);
    EXPECT_EQ(other.GetNotInterested(2), (std::vector<long>{before[2], before[1]}));
    EXPECT_EQ(other.GetTopPicks(2, 3), (std::vector<long>{before[0], before[3], before[4]}));

    // A newcomer's list leaves them out the same way; marks are each user's own.
    const long fresh = table.InsertUser("fresh", "pw");
    const std::vector<long> newcomer = table.GetTopPicks(fresh, 3);
    ASSERT_EQ(newcomer.size(), 3U);
    other.SetNotInterested(newcomer[1], fresh, true);
    const std::vector<long> hidden = table.GetTopPicks(fresh, 2);
    EXPECT_EQ(hidden, (std::vector<long>{newcomer[0], newcomer[2]}));
    EXPECT_EQ(table.GetTopPicks(fresh, kMovies).size(), static_cast<std::size_t>(kMovies - 1));
    EXPECT_EQ(table.GetNotInterested(fresh), (std::vector<long>{newcomer[1]}));
    EXPECT_EQ(table.GetNotInterested(2), (std::vector<long>{before[2], before[1]}));
    EXPECT_TRUE(table.GetNotInterested(4242).empty());

    const std::string nobody = "Nobody is logged in. Log in first.";
    for (const auto& [call, text] : std::vector<std::pair<std::function<void()>, std::string>>{
             {[&] { table.SetNotInterested(MovieId(0), NO_USER, true); }, nobody},
             {[&] { table.SetNotInterested(5, 2, true); },
              "There is no movie with the id 5 in the list. Pick a movie from the list."},
             {[&] { table.SetNotInterested(MovieId(0), 4242, true); },
              "No user with the id 4242 is known. Log in again."},
             {[&] { table.GetNotInterested(NO_USER); }, nobody},
         }) {
        EXPECT_EQ(CatchEngineError(call).text, text);
    }
    EXPECT_TRUE(table.GetNotInterested(4242).empty()) << "a refused mark writes nothing";
}

TEST(RankingCalls, AWarmStartAnswersAsTheColdOne) {
    CTempFolder folder;
    const std::string manifest = WriteData(folder);
    auto answers = [&] {
        CMovieTable table;
        table.Init(manifest);
        table.InitMatrices();
        std::vector<long> out = table.GetTopPicks(2, 10);
        const std::vector<long> similar = table.GetSimilarMovies(MovieId(7), 10);
        out.insert(out.end(), similar.begin(), similar.end());
        for (const UserRating& rating : table.GetUserRatings(1)) {
            out.insert(out.end(), {rating.movieId, rating.stars, static_cast<long>(rating.timestamp)});
        }
        return out;
    };
    const std::vector<long> cold = answers();
    ASSERT_TRUE(fs::exists(folder.Path() / "quillory.sqlite.times"));
    EXPECT_EQ(answers(), cold) << "warm start";
    // Derived files that are damaged, not ours or cannot be written cost time, never the answers.
    const std::string goodTimes = folder.Read("quillory.sqlite.times");
    folder.Write("quillory.sqlite.times", goodTimes.substr(0, goodTimes.size() - 9));
    folder.Write("quillory.sqlite.ranking", "a note at the ranking cache's name\n");
    EXPECT_EQ(answers(), cold) << "damaged times, a note at the ranking cache's name";
    EXPECT_EQ(folder.Read("quillory.sqlite.times"), goodTimes);
    EXPECT_EQ(folder.Read("quillory.sqlite.ranking").substr(0, 8), "QLRRANKM") << "not made again";
}

} // namespace
} // namespace quillory::test
