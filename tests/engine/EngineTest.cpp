// The engine behind CMovieTable: catalogue numbers, every layout's genres and dates, ratings of data and store counted
// together, the refusals of SetNewRating, predictions for any user, and the trained model kept between runs.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "EngineErrors.h"
#include "EngineFixtures.h"
#include "MovieTable.h"

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
    EXPECT_EQ(table.GetMovieGenres(1), "Crime, Drama");
    EXPECT_EQ(table.GetURLOfMovie(1), "https://www.imdb.com/title/tt0002844/");
    EXPECT_EQ(table.GetMovieDetails(10506).id, 3124456);
    EXPECT_EQ(table.GetRating(1074638, 1, ""), 4); // 7 of 10
    double average = 0;
    long count = 0;
    table.GetInfo(1, average, count);
    EXPECT_EQ(count, 2);
    EXPECT_DOUBLE_EQ(average, 4.0);
    table.InitMatrices();

    // The model learnt from the whole file: two of its busiest raters, one generous and one severe, are predicted
    // on the movies they rated much as they rated them, and better than by the mean of every rating (3.89 stars).
    struct Rater {
        long id;
        long count;        // ratings in the bundled file
        double average;    // their average in stars
        double prediction; // the average prediction over the movies he rated
        double error;      // the mean absolute error of those predictions
    };
    Rater raters[] = {{4396, 285, 4.378947, 0, 0}, {16036, 308, 3.181818, 0, 0}};
    constexpr double kMeanOfEveryRating = 3.89;
    for (Rater& rater : raters) {
        SCOPED_TRACE(rater.id);
        table.GetInfo(rater.id, average, count);
        ASSERT_EQ(count, rater.count);
        EXPECT_NEAR(average, rater.average, 1e-6);
        double meanError = 0;
        long seen = 0;
        for (int number = 1; number < 10507; ++number) {
            const long movie = table.GetMovieDetails(number).id;
            const long stars = table.GetRating(movie, rater.id, "");
            if (stars == 0) {
                continue;
            }
            const double p = table.GetPredictedRating(movie, rater.id);
            rater.prediction += p;
            rater.error += std::abs(p - static_cast<double>(stars));
            meanError += std::abs(kMeanOfEveryRating - static_cast<double>(stars));
            ++seen;
        }
        ASSERT_EQ(seen, rater.count);
        rater.prediction /= static_cast<double>(seen);
        rater.error /= static_cast<double>(seen);
        meanError /= static_cast<double>(seen);
        EXPECT_LT(rater.error, 0.8 * meanError) << "mean error " << meanError;
        EXPECT_NEAR(rater.prediction, rater.average, 0.5);
    }
    EXPECT_GT(raters[0].prediction - raters[1].prediction, 0.6);
}

// A catalogue in one layout, with what the engine answers for its movies' genres and dates (by catalogue number).
struct LayoutCase {
    const char* format;
    std::vector<std::pair<std::string, std::string>> files; // name, bytes
    struct Movie {
        int number;
        const char* genres;
        const char* releaseDate;
    };
    std::vector<Movie> movies;
};

TEST(Engine, EveryLayoutsGenresAndDatesAreAnsweredColdAndWarm) {
    const auto item = [](const std::string& fields, const std::string& flags) {
        std::string line = fields;
        for (const char flag : flags) {
            line += '|';
            line += flag;
        }
        return line + "\n";
    };
    const LayoutCase cases[] = {
        {"movielens-100k",
         {{"u.item", item("1|Toy Story (1995)|01-Jan-1995||http://example.org/1", "0001110000000000000") +
                         item("2|GoldenEye (1995)|01-Jan-1995||", "0110000000000000100") +
                         item("267|unknown|||", "1000000000000000000") +
                         item("4|Get Shorty (1995)|||", "0100010010000000000") +
                         item("5|Kids in the Hall: Brain Candy (1996)|12-Apr-1996||", "0000000000000000000")},
          {"u.data", "1\t1\t5\t881250949\n1\t2\t3\t881250950\n2\t267\t2\t881250951\n"}},
         {{1, "Animation, Children's, Comedy", "01-Jan-1995"},
          {2, "Action, Adventure, Thriller", "01-Jan-1995"},
          {3, "", ""}, // "unknown" is no genre, and the data gives no date and its title no year
          {4, "Action, Comedy, Drama", "1995"},
          {5, "", "12-Apr-1996"}}},
        {"movielens-csv",
         {{"movies.csv", "movieId,title,genres\n"
                         "1,Toy Story (1995),Adventure|Animation|Children|Comedy|Fantasy\n"
                         "11,\"American President, The (1995)\",Comedy|Drama|Romance\n"
                         "149532,Babylon 5,(no genres listed)\n"
                         "6,Heat (1995), Action | Crime |Thriller\n"},
          {"ratings.csv", "userId,movieId,rating,timestamp\n1,1,4.0,964982703\n1,6,4.5,964982224\n"},
          {"links.csv", "movieId,imdbId,tmdbId\n1,0114709,862\n"}},
         {{1, "Adventure, Animation, Children, Comedy, Fantasy", "1995"},
          {2, "Comedy, Drama, Romance", "1995"},
          {3, "", ""},
          {4, "Action, Crime, Thriller", "1995"}}},
        {"movietweetings",
         {{"movies.dat", "0002844::Fant\xc3\xb4mas - \xc3\x80 l'ombre de la guillotine (1913)::Crime|Drama\n"
                         "0004936::The Bank (1915)::Comedy|Short\n"
                         "0000010::La sortie des usines Lumi\xc3\xa8re (1895)::\n"
                         "0004972::The Birth of a Nation (1915)::Drama|History|Romance|War\n"},
          {"ratings.dat", "1::0002844::8::1365000000\n2::0004972::3::1365000001\n"}},
         {{1, "Crime, Drama", "1913"},
          {2, "Comedy, Short", "1915"},
          {3, "", "1895"},
          {4, "Drama, History, Romance, War", "1915"}}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.format);
        CTempFolder folder;
        std::string manifest = std::string("format = ") + c.format + "\n";
        const char* keys[] = {"movies", "ratings", "links"};
        for (std::size_t f = 0; f < c.files.size(); ++f) {
            folder.Write(c.files[f].first, c.files[f].second);
            manifest += std::string(keys[f]) + " = " + c.files[f].first + "\n";
        }
        const std::string path = folder.Write("files.txt", manifest + "store = quillory.sqlite\n").string();
        for (const char* start : {"cold", "warm"}) {
            SCOPED_TRACE(start);
            CMovieTable table;
            table.Init(path);
            ASSERT_EQ(table.GetNumberOfMovies(), static_cast<long>(c.movies.size()) + 1);
            for (const LayoutCase::Movie& movie : c.movies) {
                EXPECT_EQ(table.GetMovieGenres(movie.number), movie.genres) << movie.number;
                EXPECT_EQ(table.GetMovieDetails(movie.number).releaseDate, movie.releaseDate) << movie.number;
            }
            const int past = static_cast<int>(c.movies.size()) + 1;
            EXPECT_EQ(CatchEngineError([&] { table.GetMovieGenres(past); }).text,
                      "There is no movie number " + std::to_string(past) + " in the list: it numbers its movies 1 to " +
                          std::to_string(c.movies.size()) + ".");
            EXPECT_EQ(CatchEngineError([&] { table.GetMovieGenres(0); }).caption, kUsageErrorCaption);
        }
        EXPECT_TRUE(fs::exists(folder.Path() / "quillory.sqlite.snapshot")) << "the warm start had a snapshot to read";
    }
    EXPECT_EQ(CatchEngineError([] { CMovieTable().GetMovieGenres(1); }).text,
              "The movie data is not loaded: loading it failed or has not run.");
}

TEST(Engine, CatalogueNumbersAndTheirLimits) {
    CTempFolder folder;
    const std::string manifest = WriteSmallTweetings(folder, 12, 8).string();
    CMovieTable table;
    // Nothing works before Init, and a failed Init leaves nothing half-loaded.
    EXPECT_EQ(CatchEngineError([&] { table.GetNumberOfMovies(); }).caption, kUsageErrorCaption);
    EXPECT_EQ(CatchEngineError([&] { table.GetNumberOfMovies(); }).text,
              "The movie data is not loaded: loading it failed or has not run.");
    EXPECT_EQ(CatchEngineError([&] { table.Init((folder.Path() / "none.txt").string()); }).caption, kDataErrorCaption);
    EXPECT_EQ(CatchEngineError([&] { table.GetMovieDetails(1); }).caption, kUsageErrorCaption);

    table.Init(manifest);
    ASSERT_EQ(table.GetNumberOfMovies(), 13);
    EXPECT_EQ(table.GetMovieDetails(12).id, kMovie0 + 11);
    EXPECT_EQ(table.GetMovieDetails(1).name, "Movie 0");
    for (const int bad : {0, -1, 13, 1 << 30}) {
        const Thrown thrown = CatchEngineError([&] { table.GetMovieDetails(bad); });
        EXPECT_EQ(thrown.text,
                  "There is no movie number " + std::to_string(bad) + " in the list: it numbers its movies 1 to 12.");
        CatchEngineError([&] { table.GetURLOfMovie(bad); });
    }
    EXPECT_EQ(CatchEngineError([&] { table.GetRating(77, 1, ""); }).caption, kUsageErrorCaption);
    EXPECT_EQ(table.GetRating(kMovie0, 424242, ""), 0); // unknown user: no rating
    EXPECT_EQ(table.GetCurrentUserID(), NO_USER);
    // Nobody logged in: the calls for the current user say so, in words the user can act on.
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { table.CanPredict(); },
             [&] { table.GetRating(kMovie0, NO_USER, ""); },
             [&] { table.SetNewRating(kMovie0, NO_USER, 3); },
             [&] {
                 double average = 0;
                 long count = 0;
                 table.GetInfo(NO_USER, average, count);
             },
         }) {
        const Thrown thrown = CatchEngineError(call);
        EXPECT_EQ(thrown.caption, "Quillory engine error");
        EXPECT_EQ(thrown.text, "Nobody is logged in. Log in first.");
    }
    table.SetCurrentUser(1);
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
        {"unknown movie", 5, 1, 3, "There is no movie with the id 5 in the list."},
        {"unknown user", movie, 4242, 3, "No user with the id 4242 is known. Log in again."},
        {"no user", movie, NO_USER, 3, "Nobody is logged in. Log in first."},
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
    EXPECT_EQ(again.text,
              "The movie is already rated (2 stars), and a rating is never changed. Pick a different movie please.");
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
    EXPECT_EQ(CatchEngineError([&] { table.GetPredictedRating(kMovie0, 1); }).text,
              "Predictions are not ready: preparing them failed or has not run.");
    table.SetRefresh(false); // does nothing, even before the model is ready
    table.InitMatrices();
    // Users of the data follow their taste: an even user likes the even movies (4 or 5 stars) and not the odd ones
    // (1 or 2 stars), an odd user the other way round. Predicted, the movies he rated come out near his ratings, far
    // nearer than any one value for all could be (1.3 stars off on average at best), and the movies he did not rate
    // split the same way by taste.
    for (const long user : {1L, 2L, 50L}) {
        SCOPED_TRACE(user);
        double error = 0;
        int rated = 0;
        double liked = 0;
        double disliked = 0;
        int likedCount = 0;
        int dislikedCount = 0;
        for (int m = 0; m < movies; ++m) {
            const double p = table.GetPredictedRating(kMovie0 + m, user);
            const long stars = table.GetRating(kMovie0 + m, user, "");
            if (stars != 0) {
                error += std::abs(p - static_cast<double>(stars));
                ++rated;
            } else if ((m % 2 == 0) == (user % 2 == 0)) {
                liked += p;
                ++likedCount;
            } else {
                disliked += p;
                ++dislikedCount;
            }
        }
        ASSERT_GT(rated, 10);
        ASSERT_GT(likedCount, 2);
        ASSERT_GT(dislikedCount, 2);
        EXPECT_LT(error / rated, 0.8);
        EXPECT_GT(liked / likedCount - disliked / dislikedCount, 1.5);
    }
    // Users without ratings all get the same answer, strictly inside the scale and differing from movie to movie.
    const std::vector<double> unknown = Predictions(table, movies, {51});
    EXPECT_EQ(Predictions(table, movies, {987654}), unknown);
    EXPECT_EQ(Predictions(table, movies, {0}), unknown);
    for (const double p : unknown) {
        EXPECT_GT(p, 1.0);
        EXPECT_LT(p, 5.0);
    }
    EXPECT_GT(*std::max_element(unknown.begin(), unknown.end()) - *std::min_element(unknown.begin(), unknown.end()),
              0.1);
    EXPECT_EQ(CatchEngineError([&] { table.GetPredictedRating(kMovie0, NO_USER); }).text,
              "Nobody is logged in. Log in first.");
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

// A start reports its stages in order, each from 0 done to all of it, never going back; and what is trained does not
// depend on whether anyone listens.
TEST(Engine, StartProgressRunsEachStageInOrderWithinItsBounds) {
    const int movies = 25;
    CTempFolder quiet;
    std::vector<double> expected;
    {
        CMovieTable table;
        table.Init(WriteSmallTweetings(quiet, movies, 40).string());
        table.InitMatrices();
        expected = Predictions(table, movies, {1, 2, 3});
    }
    const struct {
        const char* start;
        std::vector<std::string> stages;
    } cases[] = {
        {"cold", {"Reading ratings", "Training"}},
        {"warm", {"Reading ratings"}},
    };
    CTempFolder folder;
    const std::string manifest = WriteSmallTweetings(folder, movies, 40).string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        std::vector<StartProgress> calls;
        CMovieTable table;
        table.SetProgress([&](const StartProgress& progress) { calls.push_back(progress); });
        table.Init(manifest);
        table.InitMatrices();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front().total, 100U) << "reading counts in percent";
        std::vector<std::string> stages;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const StartProgress& now = calls[i];
            const bool first = i == 0 || std::string(calls[i - 1].stage) != now.stage;
            const bool last = i + 1 == calls.size() || std::string(calls[i + 1].stage) != now.stage;
            if (first) {
                stages.emplace_back(now.stage);
                EXPECT_EQ(now.done, 0U) << now.stage;
                EXPECT_GT(now.total, 0U) << now.stage;
            } else {
                EXPECT_GE(now.done, calls[i - 1].done) << now.stage << " at " << i;
                EXPECT_EQ(now.total, calls[i - 1].total) << now.stage << " at " << i;
            }
            EXPECT_LE(now.done, now.total) << now.stage << " at " << i;
            if (last) {
                EXPECT_EQ(now.done, now.total) << now.stage;
            }
        }
        EXPECT_EQ(stages, c.stages);
        EXPECT_EQ(Predictions(table, movies, {1, 2, 3}), expected);
    }
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
