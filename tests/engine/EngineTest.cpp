// The engine behind CMovieTable: catalogue numbers, ratings of data and store counted together, the refusals of
// SetNewRating, predictions for any user, and the trained model kept between runs.
#include <cmath>
#include <fstream>

#include <gtest/gtest.h>

#include "EngineErrors.h"
#include "EngineTestSupport.h"

namespace quillory::test {
namespace {

namespace fs = std::filesystem;

constexpr long kMovie0 = 1000001; // movie ids of WriteSmallTweetings data: 1000001 + index

// The predictions of every movie for each of `users`.
std::vector<double> Predictions(CMovieTable& table, int movies, const std::vector<long>& users) {
    std::vector<double> out;
    for (const long user : users) {
        for (int m = 0; m < movies; ++m) {
            out.push_back(table.GetPredictedRating(kMovie0 + m, user));
        }
    }
    return out;
}

TEST(Engine, DefaultDataStartsOnTheWholeCatalogue) {
    // The bundled files, copied so that the store and the model cache are made in a temporary folder.
    CTempFolder folder;
    const fs::path source = fs::path(QUILLORY_SOURCE_DIR) / "MovieData";
    for (const char* name : {"files.txt", "movies.dat", "ratings.dat"}) {
        fs::copy_file(source / name, folder.Path() / name);
    }
    CMovieTable table;
    table.Init((folder.Path() / "files.txt").string());
    ASSERT_EQ(table.GetNumberOfMovies(), 10507);
    const MovieItem first = table.GetMovieDetails(1);
    EXPECT_EQ(first.title, "Fant\xc3\xb4mas - \xc3\x80 l'ombre de la guillotine (1913)");
    EXPECT_EQ(first.id, 2844);
    EXPECT_EQ(first.name, "Fant\xc3\xb4mas - \xc3\x80 l'ombre de la guillotine");
    EXPECT_EQ(first.releaseDate, "1913");
    EXPECT_EQ(table.GetURLOfMovie(1), "https://www.imdb.com/title/tt0002844/");
    EXPECT_EQ(table.GetMovieDetails(10506).id, 3124456);
    EXPECT_EQ(table.GetRating(1074638, 1, ""), 4); // 7 of 10
    double average = 0;
    long count = 0;
    table.GetInfo(1, average, count);
    EXPECT_EQ(count, 2);
    EXPECT_DOUBLE_EQ(average, 4.0);
    table.InitMatrices();
    const double prediction = table.GetPredictedRating(1074638, 1);
    EXPECT_GE(prediction, 1.0);
    EXPECT_LE(prediction, 5.0);
}

TEST(Engine, CatalogueNumbersAndTheirLimits) {
    CTempFolder folder;
    const std::string manifest = WriteSmallTweetings(folder, 12, 8).string();
    CMovieTable table;
    // Nothing works before Init, and a failed Init leaves nothing half-loaded.
    EXPECT_EQ(CatchEngineError([&] { table.GetNumberOfMovies(); }).caption, kUsageErrorCaption);
    EXPECT_EQ(CatchEngineError([&] { table.Init((folder.Path() / "none.txt").string()); }).caption, kDataErrorCaption);
    EXPECT_EQ(CatchEngineError([&] { table.GetMovieDetails(1); }).caption, kUsageErrorCaption);

    table.Init(manifest);
    ASSERT_EQ(table.GetNumberOfMovies(), 13);
    EXPECT_EQ(table.GetMovieDetails(12).id, kMovie0 + 11);
    EXPECT_EQ(table.GetMovieDetails(1).name, "Movie 0");
    for (const int bad : {0, -1, 13, 1 << 30}) {
        const Thrown thrown = CatchEngineError([&] { table.GetMovieDetails(bad); });
        EXPECT_NE(thrown.text.find("no movie number " + std::to_string(bad)), std::string::npos) << thrown.text;
        CatchEngineError([&] { table.GetURLOfMovie(bad); });
    }
    EXPECT_EQ(CatchEngineError([&] { table.GetRating(77, 1, ""); }).caption, kUsageErrorCaption);
    EXPECT_EQ(table.GetRating(kMovie0, 424242, ""), 0); // unknown user: no rating
    EXPECT_EQ(table.GetCurrentUserID(), NO_USER);
    EXPECT_FALSE(table.CanPredict());

    // A table whose engine was moved away refuses calls rather than crashing.
    CMovieTable moved = std::move(table);
    EXPECT_EQ(moved.GetNumberOfMovies(), 13);
    EXPECT_EQ(CatchEngineError([&] { table.GetNumberOfMovies(); }).caption, kUsageErrorCaption); // NOLINT
}

TEST(Engine, InfoAndCanPredictCountDataAndStoreRatingsTogether) {
    CTempFolder folder;
    // User 1 rates movies 0..9 with 10 (five stars) in the data; user 2 rates all twenty with 4 (two stars).
    std::string movies;
    std::string ratings;
    for (int m = 0; m < 20; ++m) {
        movies += std::to_string(kMovie0 + m) + "::Movie " + std::to_string(m) + " (2000)::Drama\n";
        if (m < 10) {
            ratings += "1::" + std::to_string(kMovie0 + m) + "::10::0\n";
        }
        ratings += "2::" + std::to_string(kMovie0 + m) + "::4::0\n";
    }
    folder.Write("movies.dat", movies);
    folder.Write("ratings.dat", ratings);
    const std::string manifest =
        folder
            .Write("files.txt", "format = movietweetings\nmovies = movies.dat\nratings = ratings.dat\n"
                                "store = quillory.sqlite\n")
            .string();
    {
        CMovieTable table;
        table.Init(manifest);
        table.InitMatrices();
        table.SetCurrentUser(1);
        for (int m = 10; m < 14; ++m) {
            table.SetNewRating(kMovie0 + m, 1, 1);
        }
        double average = 0;
        long count = 0;
        table.GetInfo(1, average, count);
        EXPECT_EQ(count, 14);
        EXPECT_FALSE(table.CanPredict());
        table.SetNewRating(kMovie0 + 14, 1, 1);
        EXPECT_TRUE(table.CanPredict());
        table.SetCurrentUser(3);
        EXPECT_FALSE(table.CanPredict());
    }
    CMovieTable table; // a later run sees the same
    table.Init(manifest);
    table.SetCurrentUser(1);
    EXPECT_TRUE(table.CanPredict());
    double average = 0;
    long count = 0;
    table.GetInfo(1, average, count);
    EXPECT_EQ(count, 15);
    EXPECT_DOUBLE_EQ(average, (10 * 5 + 5 * 1) / 15.0);
    EXPECT_EQ(table.GetRating(kMovie0 + 14, 1, ""), 1);
    EXPECT_EQ(table.GetRating(kMovie0, 1, ""), 5);
    EXPECT_EQ(table.GetRating(kMovie0 + 19, 1, ""), 0);
    table.GetInfo(99, average, count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(average, 0.0);
}

TEST(Engine, SetNewRatingRefusesAndStoresNothing) {
    CTempFolder folder;
    const std::string manifest = WriteSmallTweetings(folder, 10, 10).string();
    CMovieTable table;
    table.Init(manifest);
    int unrated = 0;
    while (SmallTweetingsRating(1, unrated) >= 0) {
        ++unrated;
    }
    int rated = 0;
    while (SmallTweetingsRating(1, rated) < 0) {
        ++rated;
    }
    const long movie = kMovie0 + unrated;
    const struct {
        const char* what;
        long movie;
        long user;
        long rating;
        const char* phrase;
    } refusals[] = {
        {"zero stars", movie, 1, 0, "from 1 to 5"},
        {"six stars", movie, 1, 6, "from 1 to 5"},
        {"negative", movie, 1, -3, "from 1 to 5"},
        {"unknown movie", 5, 1, 3, "no movie with id 5"},
        {"unknown user", movie, 4242, 3, "User 4242 is not known"},
        {"no user", movie, NO_USER, 3, "is not known"},
        {"rated in the data", kMovie0 + rated, 1, 3, "already rated"},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        const Thrown thrown =
            CatchEngineError([&] { table.SetNewRating(refusal.movie, refusal.user, refusal.rating); });
        EXPECT_EQ(thrown.caption, kUsageErrorCaption);
        EXPECT_NE(thrown.text.find(refusal.phrase), std::string::npos) << thrown.text;
    }
    table.SetNewRating(movie, 1, 2);
    const Thrown again = CatchEngineError([&] { table.SetNewRating(movie, 1, 5); });
    EXPECT_NE(again.text.find("already rated"), std::string::npos);
    EXPECT_EQ(table.GetRating(movie, 1, ""), 2);
    EXPECT_EQ(table.GetRating(kMovie0 + rated, 1, ""), (SmallTweetingsRating(1, rated) + 1) / 2);

    CMovieTable later;
    later.Init(manifest);
    EXPECT_EQ(later.GetRating(movie, 1, ""), 2); // the refused ones left nothing; the good one is there
}

TEST(Engine, PredictionsForAnyUserStayOnTheScaleAndFollowNewRatings) {
    CTempFolder folder;
    const int movies = 30;
    const std::string manifest = WriteSmallTweetings(folder, movies, 50).string();
    CMovieTable table;
    table.Init(manifest);
    EXPECT_EQ(CatchEngineError([&] { table.GetPredictedRating(kMovie0, 1); }).caption, kUsageErrorCaption);
    table.SetRefresh(false); // does nothing, even before the model is ready
    table.InitMatrices();
    for (const double p : Predictions(table, movies, {1, 2, 50, 51, 987654, NO_USER, 0})) {
        EXPECT_TRUE(std::isfinite(p));
        EXPECT_GE(p, 1.0);
        EXPECT_LE(p, 5.0);
    }
    EXPECT_EQ(CatchEngineError([&] { table.GetPredictedRating(3, 1); }).caption, kUsageErrorCaption);

    // User 2 likes the even movies; after he gives every odd movie he has not rated five stars, an odd movie
    // he still has not rated is predicted higher.
    std::vector<int> unratedOdd;
    for (int m = 1; m < movies; m += 2) {
        if (SmallTweetingsRating(2, m) < 0) {
            unratedOdd.push_back(m);
        }
    }
    ASSERT_GE(unratedOdd.size(), 3U);
    const int probe = unratedOdd.back();
    unratedOdd.pop_back();
    const double before = table.GetPredictedRating(kMovie0 + probe, 2);
    for (const int m : unratedOdd) {
        table.SetNewRating(kMovie0 + m, 2, 5);
    }
    const double after = table.GetPredictedRating(kMovie0 + probe, 2);
    EXPECT_GT(after, before);
    table.SetCurrentUser(2);
    table.SetRefresh(true); // folding in again changes nothing more
    EXPECT_EQ(table.GetPredictedRating(kMovie0 + probe, 2), after);
    table.SetRefresh(false);
}

TEST(Engine, WarmStartPredictsAsColdAndABadCacheIsRebuilt) {
    CTempFolder folder;
    const int movies = 25;
    const std::string manifest = WriteSmallTweetings(folder, movies, 40).string();
    const fs::path cache = folder.Path() / "quillory.sqlite.model";
    std::vector<long> users = {1, 2, 3};
    std::vector<double> expected;
    {
        CMovieTable table;
        table.Init(manifest);
        table.InitMatrices();
        ASSERT_TRUE(fs::exists(cache));
        const long newcomer = table.InsertUser("newcomer", "pw");
        users.push_back(newcomer);
        for (int m = 0; m < movies; m += 3) {
            table.SetNewRating(kMovie0 + m, newcomer, 1 + m % 5);
            if (SmallTweetingsRating(3, m) < 0) {
                table.SetNewRating(kMovie0 + m, 3, 5);
            }
        }
        expected = Predictions(table, movies, users); // the new ratings folded in lazily
    }
    const std::string goodCache = folder.Read("quillory.sqlite.model");

    auto predictionsOfANewRun = [&] {
        CMovieTable table;
        table.Init(manifest);
        table.InitMatrices();
        return Predictions(table, movies, users);
    };
    EXPECT_EQ(predictionsOfANewRun(), expected) << "warm start";

    fs::remove(cache);
    EXPECT_EQ(predictionsOfANewRun(), expected) << "cold start with the same store";
    EXPECT_EQ(folder.Read("quillory.sqlite.model"), goodCache);

    std::string corrupt = goodCache;
    corrupt[corrupt.size() / 2] = static_cast<char>(corrupt[corrupt.size() / 2] ^ 0x5A);
    folder.Write("quillory.sqlite.model", corrupt);
    EXPECT_EQ(predictionsOfANewRun(), expected) << "corrupted cache";
    EXPECT_EQ(folder.Read("quillory.sqlite.model"), goodCache);

    folder.Write("quillory.sqlite.model", goodCache.substr(0, goodCache.size() / 3));
    EXPECT_EQ(predictionsOfANewRun(), expected) << "truncated cache";
    EXPECT_EQ(folder.Read("quillory.sqlite.model"), goodCache);

    // A cache that cannot be written costs only the training time: the start goes on.
    fs::remove(cache);
    fs::create_directory(cache);
    testing::internal::CaptureStderr();
    EXPECT_EQ(predictionsOfANewRun(), expected) << "cache not writable";
    EXPECT_NE(testing::internal::GetCapturedStderr().find(cache.string()), std::string::npos);
    fs::remove_all(cache);

    // Changed data files make the cache stale: with the good cache in place, the model is trained on the new data,
    // as a fresh folder would be, and the cache replaced. The change keeps the file's length and time, so only its
    // content tells.
    folder.Write("quillory.sqlite.model", goodCache);
    ASSERT_EQ(predictionsOfANewRun(), expected) << "the good cache again";
    const fs::path ratingsFile = folder.Path() / "ratings.dat";
    const auto time = fs::last_write_time(ratingsFile);
    std::string ratings = folder.Read("ratings.dat");
    ASSERT_EQ(ratings.compare(0, 25, "1::1000001::3::1365000100"), 0);
    ratings[12] = '9';
    folder.Write("ratings.dat", ratings);
    fs::last_write_time(ratingsFile, time);
    const std::vector<double> changed = predictionsOfANewRun();
    EXPECT_NE(changed, expected);
    EXPECT_NE(folder.Read("quillory.sqlite.model"), goodCache);
    CTempFolder fresh;
    WriteSmallTweetings(fresh, movies, 40);
    fresh.Write("ratings.dat", ratings);
    fs::copy_file(folder.Path() / "quillory.sqlite", fresh.Path() / "quillory.sqlite");
    CMovieTable table;
    table.Init((fresh.Path() / "files.txt").string());
    table.InitMatrices();
    EXPECT_EQ(Predictions(table, movies, users), changed);
}

} // namespace
} // namespace quillory::test
