// The loaders of the three data layouts: what they make of good files, and that every malformed line is refused
// with a message naming the file and the line.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "DataSet.h"
#include "EngineErrors.h"
#include "EngineFixtures.h"
#include "MovieCatalogue.h"
#include "MovieTitle.h"

namespace quillory::test {
namespace {

using data::DataSet;

struct Files {
    Files(std::string moviesFile, std::string ratingsFile, std::string linksFile = {})
        : movies(std::move(moviesFile)), ratings(std::move(ratingsFile)), links(std::move(linksFile)) {}
    std::string movies;
    std::string ratings;
    std::string links; // movielens-csv only
};

const char* MoviesName(const std::string& format) {
    return format == "movielens-100k" ? "u.item" : format == "movielens-csv" ? "movies.csv" : "movies.dat";
}
const char* RatingsName(const std::string& format) {
    return format == "movielens-100k" ? "u.data" : format == "movielens-csv" ? "ratings.csv" : "ratings.dat";
}

DataSet Load(const CTempFolder& folder, const std::string& format, const Files& files) {
    folder.Write(MoviesName(format), files.movies);
    folder.Write(RatingsName(format), files.ratings);
    std::string manifest = "format = " + format + "\nmovies = " + MoviesName(format) +
                           "\nratings = " + RatingsName(format) + "\nstore = store.sqlite\n";
    if (format == "movielens-csv") {
        folder.Write("links.csv", files.links);
        manifest += "links = links.csv\n";
    }
    const auto path = folder.Write("files.txt", manifest);
    return data::LoadDataSet(data::ReadManifest(path.string()));
}

// A u.item line: id|title|release date|video release date|URL| and 19 genre flags, given as 19 digits or, by
// default, Animation alone.
std::string Item100k(int id, const std::string& title, const std::string& date, const std::string& url = "",
                     const std::string& flags = "0001000000000000000") {
    std::string line = std::to_string(id) + "|" + title + "|" + date + "||" + url;
    for (const char flag : flags) {
        line += '|';
        line += flag;
    }
    return line;
}

// A movie's genres by name, in the order the catalogue's genre table gives them.
struct GenreCase {
    const char* what;
    std::string field; // the genres as the catalogue line gives them
    std::vector<std::string> genres;
};

// Loads a catalogue of one movie per case (ids 1..), the line of each made by `line`, and checks every movie's
// genres and the genre table.
void ExpectGenres(const std::string& format, const std::string& header, const std::vector<GenreCase>& cases,
                  const std::function<std::string(int id, const std::string& field)>& line,
                  const std::vector<std::string>& table) {
    std::string movies = header;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        movies += line(static_cast<int>(i) + 1, cases[i].field) + "\n";
    }
    const char* ratings = format == "movielens-100k"  ? "1\t1\t5\t0\n"
                          : format == "movielens-csv" ? "userId,movieId,rating,timestamp\n1,1,5,0\n"
                                                      : "1::1::5::0\n";
    CTempFolder folder;
    const DataSet data = Load(folder, format, {movies, ratings, "movieId,imdbId,tmdbId\n"});
    ASSERT_EQ(data.movies.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        const std::vector<std::string_view> names = data::GenreNamesOf(data.movies[i].genres, data.genres);
        EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()), cases[i].genres);
    }
    EXPECT_EQ(data.genres, table);
}

struct BadCase {
    const char* what;
    Files files;
    const char* file;   // the file the message must name
    int line;           // the line it must name
    const char* phrase; // part of what was expected
};

void ExpectRefused(const std::string& format, const BadCase& bad) {
    SCOPED_TRACE(bad.what);
    CTempFolder folder;
    const Thrown thrown = CatchEngineError([&] { Load(folder, format, bad.files); });
    EXPECT_EQ(thrown.caption, kDataErrorCaption);
    EXPECT_NE(thrown.text.find((folder.Path() / bad.file).string() + ", line " + std::to_string(bad.line) + ":"),
              std::string::npos)
        << thrown.text;
    EXPECT_NE(thrown.text.find(bad.phrase), std::string::npos) << thrown.text;
}

TEST(MovieTitle, NameDropsTheYearAndRestoresTheArticle) {
    EXPECT_EQ(data::MovieNameOf("Usual Suspects, The (1995)"), "The Usual Suspects");
    EXPECT_EQ(data::MovieNameOf("Toy Story (1995)"), "Toy Story");
    EXPECT_EQ(data::MovieNameOf("Time to Kill, A (1996)"), "A Time to Kill");
    EXPECT_EQ(data::MovieNameOf("Affair to Remember, An (1957)"), "An Affair to Remember");
    EXPECT_EQ(data::MovieNameOf("The Bank (1915)"), "The Bank");
    EXPECT_EQ(data::MovieNameOf("City of Lost Children, The (Cité des enfants perdus, La) (1995)"),
              "City of Lost Children, The (Cité des enfants perdus, La)");
    EXPECT_EQ(data::MovieNameOf("Babylon 5 "), "Babylon 5");
    EXPECT_EQ(data::MovieNameOf("unknown"), "unknown");
    EXPECT_EQ(data::MovieNameOf("1984 (1984)"), "1984");
    EXPECT_EQ(data::MovieNameOf("(1984)"), "(1984)");
    EXPECT_EQ(data::MovieNameOf("Apollo 13 (1995a)"), "Apollo 13 (1995a)");
    EXPECT_EQ(data::YearOf("Toy Story (1995)"), "1995");
    EXPECT_EQ(data::YearOf("Toy Story"), "");
}

TEST(MovieLens100k, LoadsLatin1CatalogueWithCrlfAndMapsFields) {
    CTempFolder folder;
    const Files files{Item100k(1, "Toy Story (1995)", "01-Jan-1995", "http://example.org/toy") + "\r\n" +
                          Item100k(2, "Cit\xe9 des enfants perdus, La (1995)", "") + "\r\n" +
                          Item100k(3, "Usual Suspects, The (1995)", "14-Aug-1995") + "\r\n\r\n" +
                          Item100k(267, "unknown", "") + "\r\n",
                      "7\t3\t5\t881250949\r\n7\t1\t1\t881250950\r\n5\t1\t3\t881250951\r\n5\t267\t2\t881250952\r\n"};
    const DataSet data = Load(folder, "movielens-100k", files);
    ASSERT_EQ(data.movies.size(), 4U);
    EXPECT_EQ(data.movies[0].title, "Toy Story (1995)");
    EXPECT_EQ(data.movies[0].releaseDate, "01-Jan-1995");
    EXPECT_EQ(data.movies[0].url, "http://example.org/toy");
    EXPECT_EQ(data.movies[1].title, "Cit\xc3\xa9 des enfants perdus, La (1995)"); // Latin-1 é became UTF-8
    EXPECT_EQ(data.movies[1].releaseDate, "1995");                                // no date: the year
    EXPECT_EQ(data.movies[2].name, "The Usual Suspects");
    EXPECT_EQ(data.movies[3].id, 267);
    EXPECT_EQ(data.movies[3].releaseDate, "");

    ASSERT_EQ(data.ratings.size(), 4U);
    EXPECT_EQ(data.ratings[0].user, 7);
    EXPECT_EQ(data.ratings[0].movie, 3);
    EXPECT_EQ(data.ratings[0].stars, 5);
    EXPECT_EQ(data.ratings[0].item, 2U);
    EXPECT_EQ(data.ratings[0].timestamp, 881250949);
    EXPECT_EQ(data.ratings[3].item, 3U);
    // Users are numbered in order of first appearance.
    EXPECT_EQ(data.users, (std::vector<int>{7, 5}));
    EXPECT_EQ(data.ratings[2].userIndex, 1U);
    // The rating index's order, which the snapshot and the times file are written in: users by index, each user's
    // ratings by movie.
    EXPECT_EQ(data.order.userStarts, (std::vector<std::uint64_t>{0, 2, 4}));
    EXPECT_EQ(data.order.positions, (std::vector<std::uint32_t>{1, 0, 2, 3}));
}

TEST(MovieLens100k, ByteOrderMarkOrValidUtf8IsReadAsUtf8) {
    CTempFolder folder;
    const Files files{"\xEF\xBB\xBF" + Item100k(1, "Caf\xc3\xa9 (2000)", "") + "\n", "1\t1\t4\t0\n"};
    const DataSet data = Load(folder, "movielens-100k", files);
    ASSERT_EQ(data.movies.size(), 1U);
    EXPECT_EQ(data.movies[0].title, "Caf\xc3\xa9 (2000)");
    // A catalogue converted to UTF-8 without a mark is not converted a second time.
    const Files converted{Item100k(1, "Caf\xc3\xa9 (2000)", "") + "\n", "1\t1\t4\t0\n"};
    EXPECT_EQ(Load(folder, "movielens-100k", converted).movies[0].title, "Caf\xc3\xa9 (2000)");
}

TEST(MovieLens100k, ReadsTheGenreFlagsByName) {
    // The flags in their order: unknown, Action, Adventure, Animation, Children's, Comedy, Crime, Documentary, Drama,
    // Fantasy, Film-Noir, Horror, Musical, Mystery, Romance, Sci-Fi, Thriller, War, Western.
    const std::vector<GenreCase> cases = {
        {"one genre", "0000000010000000000", {"Drama"}},
        {"several", "0110010000000000000", {"Action", "Adventure", "Comedy"}},
        {"every genre",
         "0111111111111111111",
         {"Action", "Adventure", "Animation", "Children's", "Comedy", "Crime", "Documentary", "Drama", "Fantasy",
          "Film-Noir", "Horror", "Musical", "Mystery", "Romance", "Sci-Fi", "Thriller", "War", "Western"}},
        {"no flag: no genres", "0000000000000000000", {}},
        {"unknown alone: no genres", "1000000000000000000", {}},
        {"unknown beside a genre: the genre", "1000000000000000001", {"Western"}},
    };
    ExpectGenres("movielens-100k", "", cases,
                 [](int id, const std::string& flags) { return Item100k(id, "A (1990)", "", "", flags); },
                 {"Action", "Adventure", "Animation", "Children's", "Comedy", "Crime", "Documentary", "Drama",
                  "Fantasy", "Film-Noir", "Horror", "Musical", "Mystery", "Romance", "Sci-Fi", "Thriller", "War",
                  "Western"});

    // The table holds only the genres some movie has.
    ExpectGenres("movielens-100k", "",
                 {{"Western", "0000000000000000001", {"Western"}}, {"Crime", "0000001000000000000", {"Crime"}}},
                 [](int id, const std::string& flags) { return Item100k(id, "A (1990)", "", "", flags); },
                 {"Crime", "Western"});
}

TEST(MovieLens100k, RefusesEveryMalformedLine) {
    const std::string movies = Item100k(1, "A (1990)", "") + "\n" + Item100k(2, "B (1991)", "") + "\n";
    const BadCase cases[] = {
        {"missing field", {movies, "1\t1\t5\t0\n2\t1\t3\n"}, "u.data", 2, "expected 4 fields"},
        {"extra field", {movies, "1\t1\t5\t0\t7\n"}, "u.data", 1, "expected 4 fields"},
        {"spaces, not tabs", {movies, "1 1 5 0\n"}, "u.data", 1, "expected 4 fields separated by \"TAB\""},
        {"rating off scale", {movies, "1\t1\t5\t0\n1\t2\t6\t0\n"}, "u.data", 2, "expected a rating from 1 to 5"},
        {"rating zero", {movies, "1\t1\t0\t0\n"}, "u.data", 1, "expected a rating from 1 to 5"},
        {"not a number", {movies, "x\t1\t5\t0\n"}, "u.data", 1, "expected the user id"},
        {"too big for 32 bits", {movies, "4294967297\t1\t5\t0\n"}, "u.data", 1, "expected the user id"},
        {"negative movie", {movies, "1\t-2\t5\t0\n"}, "u.data", 1, "expected the movie id"},
        {"fractional timestamp", {movies, "1\t1\t5\t0.5\n"}, "u.data", 1, "expected the timestamp"},
        {"unknown movie", {movies, "1\t1\t5\t0\n\n1\t3\t5\t0\n"}, "u.data", 3, "movie id 3 is not in the catalogue"},
        {"duplicate pair",
         {movies, "1\t1\t5\t0\n2\t1\t3\t0\n1\t2\t3\t0\n1\t1\t4\t0\n"},
         "u.data",
         4,
         "(first on line 1)"},
        {"duplicate movie id",
         {movies + Item100k(1, "C (1992)", "") + "\n", "1\t1\t5\t0\n"},
         "u.item",
         3,
         "movie id 1 is listed a second time (first on line 1)"},
        {"too few catalogue fields", {"1|A (1990)|||\n", "1\t1\t5\t0\n"}, "u.item", 1, "expected 24 fields"},
        {"bad genre flag",
         {"1|A (1990)|||" + std::string("|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|2\n"), "1\t1\t5\t0\n"},
         "u.item",
         1,
         "genre flag"},
        {"empty title", {Item100k(1, "", "") + "\n", "1\t1\t5\t0\n"}, "u.item", 1, "expected a title"},
        {"lone carriage return in a title",
         {movies + Item100k(3, "C\r (1992)", "") + "\n", "1\t1\t5\t0\n"},
         "u.item",
         3,
         "found a carriage return inside the line"},
    };
    for (const BadCase& bad : cases) {
        ExpectRefused("movielens-100k", bad);
    }
}

TEST(MovieLensCsv, ReadsQuotedFieldsHalfStarsAndLinks) {
    CTempFolder folder;
    const Files files{
        "\xEF\xBB\xBFmovieId,title,genres\r\n"
        "1,\"American President, The (1995)\",Comedy|Drama|Romance\r\n"
        "2,\"Say \"\"Hi\"\" (2001)\",Comedy\r\n"
        "3,\"Two\nLines (1999)\",Drama\r\n"
        "4,Heat (1995),Action\r\n",
        "userId,movieId,rating,timestamp\n1,1,0.5,10\n1,2,4.5,11\n2,3,3.0,12\n2,1,5,13\n\"2\",\"4\",\"1.5\",\"14\"\n",
        "movieId,imdbId,tmdbId\n1,0112346,9087\n2,123,\n3,4567890123,\n"};
    // An IMDb id wider than 32 bits is refused like any other number; take it out and load again.
    {
        const Thrown thrown = CatchEngineError([&] { Load(folder, "movielens-csv", files); });
        EXPECT_NE(thrown.text.find("links.csv, line 4:"), std::string::npos) << thrown.text;
    }
    Files good = files;
    good.links = "movieId,imdbId,tmdbId\n1,0112346,9087\n2,123,\n";
    const DataSet data = Load(folder, "movielens-csv", good);
    ASSERT_EQ(data.movies.size(), 4U);
    EXPECT_EQ(data.movies[0].title, "American President, The (1995)");
    EXPECT_EQ(data.movies[0].name, "The American President");
    EXPECT_EQ(data.movies[0].releaseDate, "1995");
    EXPECT_EQ(data.movies[0].url, "https://www.imdb.com/title/tt0112346/");
    EXPECT_EQ(data.movies[1].title, "Say \"Hi\" (2001)");
    EXPECT_EQ(data.movies[1].url, "https://www.imdb.com/title/tt0000123/");
    EXPECT_EQ(data.movies[2].title, "Two\nLines (1999)");
    EXPECT_EQ(data.movies[3].url, "https://movielens.org/movies/4"); // no link: the catalogue's own page

    ASSERT_EQ(data.ratings.size(), 5U);
    const int stars[] = {1, 5, 3, 5, 2};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(data.ratings[static_cast<std::size_t>(i)].stars, stars[i]) << i;
    }
    EXPECT_FLOAT_EQ(data.ratings[0].value, 1.0F);
    EXPECT_FLOAT_EQ(data.ratings[3].value, 5.0F);
    EXPECT_EQ(data.ratings[4].movie, 4);
}

TEST(MovieLensCsv, ReadsGenreLists) {
    const std::vector<GenreCase> cases = {
        {"one genre", "Drama", {"Drama"}},
        {"several, in the table's order", "Thriller|Comedy|Action", {"Action", "Comedy", "Thriller"}},
        {"quoted", "\"Children|Animation\"", {"Animation", "Children"}},
        {"blanks around the names", " Sci-Fi | IMAX ", {"IMAX", "Sci-Fi"}},
        {"a genre twice counts once", "Drama|Drama", {"Drama"}},
        {"a name with a blank inside", "Film Noir", {"Film Noir"}},
        {"(no genres listed)", "(no genres listed)", {}},
        {"an empty field", "", {}},
    };
    ExpectGenres("movielens-csv", "movieId,title,genres\n", cases,
                 [](int id, const std::string& genres) { return std::to_string(id) + ",A (1990)," + genres; },
                 {"Action", "Animation", "Children", "Comedy", "Drama", "Film Noir", "IMAX", "Sci-Fi", "Thriller"});

    const std::string movies = "movieId,title,genres\n1,Heat (1995),Action\n";
    const std::string ratings = "userId,movieId,rating,timestamp\n";
    const std::string links = "movieId,imdbId,tmdbId\n";
    std::string manyGenres = movies; // 64 genres, then a 65th on line 66
    for (int g = 2; g <= 65; ++g) {
        manyGenres += std::to_string(g) + ",B (1990),Genre " + std::to_string(g) + "\n";
    }
    const BadCase cases2[] = {
        {"two bars",
         {movies + "2,B (1990),Action||Drama\n", ratings, links},
         "movies.csv",
         3,
         "expected genres separated by \"|\", found an empty genre in \"Action||Drama\"."},
        {"a bar at the end", {movies + "2,B (1990),Action|\n", ratings, links}, "movies.csv", 3, "an empty genre"},
        {"a bar at the start", {movies + "2,B (1990),|Action\n", ratings, links}, "movies.csv", 3, "an empty genre"},
        {"a blank name", {movies + "2,B (1990),Action| |Drama\n", ratings, links}, "movies.csv", 3, "an empty genre"},
        {"no genres beside a genre",
         {movies + "2,B (1990),Drama|(no genres listed)\n", ratings, links},
         "movies.csv",
         3,
         "expected genres, or \"(no genres listed)\" alone, found \"Drama|(no genres listed)\"."},
        {"a 65th genre",
         {manyGenres, ratings, links},
         "movies.csv",
         66,
         "expected at most 64 different genres in the catalogue; the genre \"Genre 65\" would be one more."},
    };
    for (const BadCase& bad : cases2) {
        ExpectRefused("movielens-csv", bad);
    }
}

TEST(MovieLensCsv, RefusesEveryMalformedLine) {
    const std::string movies = "movieId,title,genres\n1,Heat (1995),Action\n2,\"Multi\nLine (1990)\",Drama\n"
                               "3,Ran (1985),Drama\n";
    const std::string ratings = "userId,movieId,rating,timestamp\n";
    const std::string links = "movieId,imdbId,tmdbId\n1,113277,949\n";
    std::string manyUsers; // users 1 to 5000 on lines 2 to 5001
    for (int user = 1; user <= 5000; ++user) {
        manyUsers += std::to_string(user) + ",1,4,0\n";
    }
    const BadCase cases[] = {
        {"no header", {"1,Heat (1995),Action\n", ratings, links}, "movies.csv", 1, "expected the header line"},
        {"line after a two-line record", {movies + "4,Bad\n", ratings, links}, "movies.csv", 6, "expected 3 fields"},
        {"unclosed quote", {movies + "4,\"Open (1990),Drama\n", ratings, links}, "movies.csv", 6, "closing quote"},
        {"text after a closing quote",
         {movies + "4,\"A\"b,Drama\n", ratings, links},
         "movies.csv",
         6,
         "after a quoted field"},
        {"off the half-star scale", {movies, ratings + "1,1,4.3,0\n", links}, "ratings.csv", 2, "half stars"},
        {"zero stars", {movies, ratings + "1,1,4,0\n1,2,0,0\n", links}, "ratings.csv", 3, "half stars"},
        {"above five", {movies, ratings + "1,1,5.5,0\n", links}, "ratings.csv", 2, "half stars"},
        {"extra field", {movies, ratings + "1,1,4,0,9\n", links}, "ratings.csv", 2, "expected 4 fields"},
        {"quoted extra field", {movies, ratings + "1,1,4,0,\"9\"\n", links}, "ratings.csv", 2, "expected 4 fields"},
        {"unknown movie", {movies, ratings + "1,9,4,0\n", links}, "ratings.csv", 2, "movie id 9 is not"},
        {"duplicate pair", {movies, ratings + "1,1,4,0\n1,1,3,0\n", links}, "ratings.csv", 3, "a second time"},
        {"duplicate pair with blank lines before and between",
         {movies, ratings + "\n2,1,4,0\n\n\n2,2,4,0\n2,1,3,0\n", links},
         "ratings.csv",
         7,
         "user 2 rates movie 1 a second time (first on line 3)"},
        {"the first duplicate in the file, of users thousands apart",
         {movies, ratings + manyUsers + "5000,1,3,0\n1,1,2,0\n", links},
         "ratings.csv",
         5002,
         "user 5000 rates movie 1 a second time (first on line 5001)"},
        {"wrong ratings header",
         {movies, "user,movie,rating,time\n", links},
         "ratings.csv",
         1,
         "expected the header line userId,movieId,rating,timestamp"},
        {"link to an unknown movie", {movies, ratings, links + "7,1,1\n"}, "links.csv", 3, "movie id 7 is not"},
        {"movie linked twice", {movies, ratings, links + "1,2,3\n"}, "links.csv", 3, "linked a second time"},
        {"non-numeric tmdb id", {movies, ratings, links + "2,5,x\n"}, "links.csv", 3, "TMDb id"},
        {"control character in a title",
         {movies + "4,\"Nul\x01l (1990)\",Drama\n", ratings, links},
         "movies.csv",
         6,
         "without control characters"},
    };
    for (const BadCase& bad : cases) {
        ExpectRefused("movielens-csv", bad);
    }
}

TEST(MovieTweetings, MapsTenPointRatingsAndBuildsImdbUrls) {
    CTempFolder folder;
    const Files files{"\xEF\xBB\xBF"
                      "0000042::Fant\xc3\xb4mas (1913)::Crime|Drama\r\n1234567::Heat, The (1995)::\r\n",
                      "1::42::0::1\r\n1::1234567::1::2\r\n2::42::2::3\r\n2::1234567::3::4\r\n3::42::8::5\r\n"
                      "3::1234567::9::6\r\n4::42::10::7\r\n"};
    const DataSet data = Load(folder, "movietweetings", files);
    ASSERT_EQ(data.movies.size(), 2U);
    EXPECT_EQ(data.movies[0].id, 42);
    EXPECT_EQ(data.movies[0].title, "Fant\xc3\xb4mas (1913)");
    EXPECT_EQ(data.movies[0].url, "https://www.imdb.com/title/tt0000042/");
    EXPECT_EQ(data.movies[1].name, "The Heat");
    EXPECT_EQ(data.movies[1].url, "https://www.imdb.com/title/tt1234567/");
    const int stars[] = {1, 1, 1, 2, 4, 5, 5}; // half of 0..10 rounded up, never below one
    ASSERT_EQ(data.ratings.size(), 7U);
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(data.ratings[i].stars, stars[i]) << i;
        EXPECT_GE(data.ratings[i].value, 1.0F);
        EXPECT_LE(data.ratings[i].value, 5.0F);
    }
    EXPECT_FLOAT_EQ(data.ratings[6].value, 5.0F);
}

TEST(MovieTweetings, ReadsGenreLists) {
    const std::vector<GenreCase> cases = {
        {"one genre", "Drama", {"Drama"}},
        {"several, in the table's order", "Short|Comedy", {"Comedy", "Short"}},
        {"names with dashes", "Reality-TV|Talk-Show|Sci-Fi", {"Reality-TV", "Sci-Fi", "Talk-Show"}},
        {"a genre twice counts once", "War|War|History", {"History", "War"}},
        {"empty: no genres", "", {}},
        {"blanks only: no genres", " ", {}},
        {"(no genres listed)", "(no genres listed)", {}},
    };
    ExpectGenres("movietweetings", "", cases,
                 [](int id, const std::string& genres) { return std::to_string(id) + "::A (1990)::" + genres; },
                 {"Comedy", "Drama", "History", "Reality-TV", "Sci-Fi", "Short", "Talk-Show", "War"});

    const std::string movies = "0000001::A (1990)::Drama\n";
    const BadCase bad[] = {
        {"two bars",
         {movies + "0000002::B (1991)::Crime||Drama\n", "1::1::5::0\n"},
         "movies.dat",
         2,
         "expected genres separated by \"|\", found an empty genre in \"Crime||Drama\"."},
        {"a bar alone", {movies + "0000002::B (1991)::|\n", "1::1::5::0\n"}, "movies.dat", 2, "an empty genre"},
        {"a bar at the end",
         {movies + "0000002::B (1991)::Crime|\n", "1::1::5::0\n"},
         "movies.dat",
         2,
         "an empty genre"},
        {"no genres beside a genre",
         {movies + "0000002::B (1991)::(no genres listed)|Crime\n", "1::1::5::0\n"},
         "movies.dat",
         2,
         "alone, found \"(no genres listed)|Crime\"."},
    };
    for (const BadCase& c : bad) {
        ExpectRefused("movietweetings", c);
    }
}

TEST(MovieTweetings, RefusesEveryMalformedLine) {
    const std::string movies = "0000001::A (1990)::Drama\n0000002::B (1991)::\n";
    const BadCase cases[] = {
        {"missing field", {movies, "1::1::5\n"}, "ratings.dat", 1, "expected 4 fields separated by \"::\""},
        {"extra field", {movies, "1::1::5::0::1\n"}, "ratings.dat", 1, "expected 4 fields"},
        {"rating 11", {movies, "1::1::5::0\n1::2::11::0\n"}, "ratings.dat", 2, "expected a rating from 0 to 10"},
        {"negative rating", {movies, "1::1::-1::0\n"}, "ratings.dat", 1, "expected a rating from 0 to 10"},
        {"user id past 32 bits", {movies, "2147483648::1::5::0\n"}, "ratings.dat", 1, "expected the user id"},
        {"user id zero", {movies, "0::1::5::0\n"}, "ratings.dat", 1, "expected the user id"},
        {"unknown movie", {movies, "1::3::5::0\n"}, "ratings.dat", 1, "movie id 3 is not in the catalogue"},
        {"duplicate pair", {movies, "1::1::5::0\n2::1::5::0\n1::1::7::0\n"}, "ratings.dat", 3, "first on line 1"},
        {"duplicate movie",
         {movies + "0000001::C (1992)::Drama\n", "1::1::5::0\n"},
         "movies.dat",
         3,
         "listed a second time"},
        {"catalogue line with two fields",
         {"0000001::A (1990)\n", "1::1::5::0\n"},
         "movies.dat",
         1,
         "expected 3 fields"},
        {"invalid UTF-8",
         {movies + "0000003::Caf\xe9 (1990)::Drama\n", "1::1::5::0\n"},
         "movies.dat",
         3,
         "expected UTF-8 text"},
        {"lone carriage return in a title",
         {movies + "0000003::C\r (1992)::Drama\n", "1::1::5::0\n"},
         "movies.dat",
         3,
         "found a carriage return inside the line"},
        {"movie id not a number",
         {"tt0000001::A (1990)::Drama\n", "1::1::5::0\n"},
         "movies.dat",
         1,
         "expected the IMDb id"},
    };
    for (const BadCase& bad : cases) {
        ExpectRefused("movietweetings", bad);
    }
}

TEST(Catalogue, C1ControlsAndLineSeparatorsAreControlCharacters) {
    const std::string movies = "0000001::A (1990)::Drama\n";
    struct Refused {
        const char* bytes;
        const char* message;
    };
    const Refused refused[] = {
        {"\xC2\x80", "found the character U+0080."},     // the first C1 control
        {"\xC2\x85", "found the character U+0085."},     // NEXT LINE
        {"\xC2\x9F", "found the character U+009F."},     // the last C1 control
        {"\xE2\x80\xA8", "found the character U+2028."}, // LINE SEPARATOR
        {"\xE2\x80\xA9", "found the character U+2029."}, // PARAGRAPH SEPARATOR
        {"\x7F", "found the byte 0x7F."},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.message);
        CTempFolder folder;
        const Thrown thrown = CatchEngineError([&] {
            Load(folder, "movietweetings", {movies + "0000002::B" + r.bytes + "C (1991)::Drama\n", "1::1::5::0\n"});
        });
        EXPECT_EQ(thrown.text, (folder.Path() / "movies.dat").string() +
                                   ", line 2: expected text without control characters; " + r.message);
    }

    // Their neighbours are ordinary characters: U+00A0 (no-break space), U+00BF, U+2027 and U+202F.
    CTempFolder folder;
    const DataSet data = Load(folder, "movietweetings",
                              {movies + "0000002::B\xC2\xA0"
                                        "C\xC2\xBF\xE2\x80\xA7\xE2\x80\xAF (1991)::Drama\n",
                               "1::1::5::0\n"});
    ASSERT_EQ(data.movies.size(), 2U);
    EXPECT_EQ(data.movies[1].title, "B\xC2\xA0"
                                    "C\xC2\xBF\xE2\x80\xA7\xE2\x80\xAF (1991)");

    // A Latin-1 catalogue's bytes 0x80..0x9F are those same C1 controls once converted.
    CTempFolder latin1;
    const Thrown thrown = CatchEngineError([&] {
        Load(latin1, "movielens-100k", {Item100k(1, "A\x85 (1990)", "") + "\n", "1\t1\t5\t0\n"});
    });
    EXPECT_EQ(thrown.text, (latin1.Path() / "u.item").string() +
                               ", line 1: expected text without control characters; found the character U+0085.");
}

TEST(DataSet, HeldOutFileAndFingerprint) {
    CTempFolder folder;
    const Files files{"0000001::A (1990)::Drama\n0000002::B (1991)::Drama\n", "5::1::8::0\n6::2::4::0\n"};
    const DataSet first = Load(folder, "movietweetings", files);
    EXPECT_EQ(Load(folder, "movietweetings", files).fingerprint, first.fingerprint);
    Files changed = files;
    changed.ratings = "5::1::8::0\n6::2::5::0\n";
    EXPECT_NE(Load(folder, "movietweetings", changed).fingerprint, first.fingerprint);

    const auto test = folder.Write("test.dat", "9::2::10::0\n5::2::2::0\n9::1::6::0\n");
    const auto held = data::LoadRatingsFile(test, data::Layout::MovieTweetings, first.movies);
    ASSERT_EQ(held.size(), 3U);
    EXPECT_EQ(held[0].user, 9);
    EXPECT_EQ(held[0].userIndex, 0U);
    EXPECT_EQ(held[1].userIndex, 1U);
    EXPECT_EQ(held[2].userIndex, 0U);
    EXPECT_EQ(held[0].item, 1U);
    EXPECT_EQ(held[0].stars, 5);

    // An empty catalogue is refused; an empty ratings file is a catalogue nobody has rated yet.
    const Thrown empty = CatchEngineError([&] { Load(folder, "movietweetings", Files{"\r\n", ""}); });
    EXPECT_NE(empty.text.find("lists no movie"), std::string::npos) << empty.text;
    const Thrown noHeader = CatchEngineError([&] { Load(folder, "movielens-csv", Files{"", "", ""}); });
    EXPECT_NE(noHeader.text.find("movies.csv: the file is empty; expected the header line movieId,title,genres"),
              std::string::npos)
        << noHeader.text;
    EXPECT_TRUE(Load(folder, "movietweetings", Files{files.movies, ""}).ratings.empty());

    folder.Write("bad.dat", "9::2::10::0\n9::3::1::0\n");
    const Thrown thrown = CatchEngineError(
        [&] { data::LoadRatingsFile(folder.Path() / "bad.dat", data::Layout::MovieTweetings, first.movies); });
    EXPECT_NE(thrown.text.find("bad.dat, line 2:"), std::string::npos) << thrown.text;
}

} // namespace
} // namespace quillory::test
