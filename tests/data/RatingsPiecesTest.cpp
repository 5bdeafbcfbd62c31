// The ratings parser cuts the text into pieces parsed on several threads. Whatever the piece size and the number of
// threads, it must give the ratings and line numbers, or the first error, of one reading from the first line to
// the last: every cut is tried, and each case pins what that reading gives.
#include <gtest/gtest.h>

#include "EngineFixtures.h"
#include "MException.h"
#include "MovieLookup.h"
#include "MovieRecord.h"
#include "RatingsParser.h"
#include "TextFile.h"

namespace quillory::test {
namespace {

using data::Layout;

struct Rating {
    int user;
    int movie;
    int stars;
    long long timestamp;
    std::uint32_t line;
    bool operator==(const Rating&) const = default;
};

struct PiecesCase {
    const char* what;
    Layout layout;
    std::string text;
    std::vector<Rating> ratings;
    std::string error; // after "<path>, "; empty when the file is good
};

// What ParseRatings gives: the ratings, or the text of the error it throws.
std::string Parse(const std::filesystem::path& path, Layout layout, const data::RatingsParsing& parsing,
                  std::vector<Rating>& ratings) {
    std::vector<data::MovieRecord> movies(3);
    for (int i = 0; i < 3; ++i) {
        movies[static_cast<std::size_t>(i)].id = i + 1;
    }
    const data::CMovieLookup lookup(movies);
    ratings.clear();
    try {
        data::CTextFile file(path, "ratings file");
        data::CRatingLines lines;
        const std::vector<data::RatingRecord> records = data::ParseRatings(file, layout, lookup, lines, parsing);
        for (std::size_t i = 0; i < records.size(); ++i) {
            const data::RatingRecord& r = records[i];
            EXPECT_EQ(r.item, static_cast<std::uint32_t>(r.movie - 1));
            ratings.push_back({r.user, r.movie, r.stars, r.timestamp, lines.Of(i)});
        }
    } catch (const CMException& e) {
        return e.GetText();
    }
    return {};
}

TEST(RatingsPieces, EveryCutAndThreadCountReadsLikeOneReadingInOrder) {
    const std::string csvHeader = "userId,movieId,rating,timestamp\n";
    const std::vector<PiecesCase> cases{
        {"LF, CRLF, an empty line and no final line end",
         Layout::MovieLens100k,
         "1\t1\t5\t100\n2\t2\t3\t200\r\n\n3\t3\t1\t300",
         {{1, 1, 5, 100, 1}, {2, 2, 3, 200, 2}, {3, 3, 1, 300, 4}},
         ""},
        {"byte-order mark, leading zeros, eleven digits, a negative time",
         Layout::MovieLens100k,
         "\xEF\xBB\xBF"
         "0007\t2\t4\t9\n00000000001\t3\t2\t-5\n",
         {{7, 2, 4, 9, 1}, {1, 3, 2, -5, 2}},
         ""},
        {"timestamps of 9, 8, 18 and 19 digits",
         Layout::MovieLens100k,
         "1\t1\t5\t881250949\n1\t2\t4\t12345678\n2\t1\t3\t123456789012345678\n2\t2\t2\t1234567890123456789\n",
         {{1, 1, 5, 881250949, 1},
          {1, 2, 4, 12345678, 2},
          {2, 1, 3, 123456789012345678, 3},
          {2, 2, 2, 1234567890123456789, 4}},
         ""},
        {"a letter among a timestamp's first eight digits",
         Layout::MovieLens100k,
         "1\t1\t5\t8812509490\n1\t2\t5\t88125x949\n",
         {},
         "line 2: expected the timestamp as a whole number of seconds, found \"88125x949\"."},
        {"blank lines at the start, between and at the end",
         Layout::MovieLens100k,
         "\n\n1\t1\t5\t1\n\n\n2\t2\t4\t2\n3\t3\t3\t3\n\n",
         {{1, 1, 5, 1, 3}, {2, 2, 4, 2, 6}, {3, 3, 3, 3, 7}},
         ""},
        {"CRLF at the very end", Layout::MovieLens100k, "4\t1\t1\t0\r", {{4, 1, 1, 0, 1}}, ""},
        {"half stars, CRLF header, blank line before it",
         Layout::MovieLensCsv,
         "\r\nuserId,movieId,rating,timestamp\r\n1,1,0.5,1\r\n1,2,4.50,2\n2,3,5.0,3\n\n2,1,3,4",
         {{1, 1, 1, 1, 3}, {1, 2, 5, 2, 4}, {2, 3, 5, 3, 5}, {2, 1, 3, 4, 7}},
         ""},
        {"quoted fields are read in order",
         Layout::MovieLensCsv,
         csvHeader + "\"1\",2,4,0\n1,\"3\",2.5,1\n",
         {{1, 2, 4, 0, 2}, {1, 3, 3, 1, 3}},
         ""},
        {"quoted fields and blank lines between",
         Layout::MovieLensCsv,
         csvHeader + "\"1\",2,4,0\n\n\n1,3,2.5,1\n2,1,1,2\n\n\"2\",2,5,3\n",
         {{1, 2, 4, 0, 2}, {1, 3, 3, 1, 5}, {2, 1, 1, 2, 6}, {2, 2, 5, 3, 8}},
         ""},
        {"ten points",
         Layout::MovieTweetings,
         "1::1::10::5\n1::2::0::6\n2::1::07::7\n",
         {{1, 1, 5, 5, 1}, {1, 2, 1, 6, 2}, {2, 1, 4, 7, 3}},
         ""},
        {"the first of two bad lines wins",
         Layout::MovieLens100k,
         "1\t1\t5\t0\n1\t2\t6\t0\n1\t3\t5\t0\n1\t9\t1\t0\n",
         {},
         "line 2: expected a rating from 1 to 5, found \"6\"."},
        {"a bad line after CRLF lines",
         Layout::MovieLens100k,
         "1\t1\t5\t0\r\n1\t2\t5\tx\r\n",
         {},
         "line 2: expected the timestamp as a whole number of seconds, found \"x\"."},
        {"a user id past 32 bits",
         Layout::MovieLens100k,
         "1\t1\t5\t0\n2147483648\t1\t5\t0",
         {},
         "line 2: expected the user id as a whole number from 1 to 2147483647, found \"2147483648\"."},
        {"a line of three fields",
         Layout::MovieLens100k,
         "1\t1\t5\t0\n\n1\t2\t5\n",
         {},
         "line 3: expected 4 fields separated by \"TAB\" (user TAB movie TAB rating TAB timestamp), found 3."},
        {"off the half stars after an empty line",
         Layout::MovieLensCsv,
         csvHeader + "1,1,4,0\n\n1,2,4.3,0\n1,3,x,0\n",
         {},
         "line 4: expected a rating from 0.5 to 5.0 in half stars, found \"4.3\"."},
        {"five CSV fields",
         Layout::MovieLensCsv,
         csvHeader + "1,1,4,0\n1,2,4,0,9",
         {},
         "line 3: expected 4 fields separated by \",\" (userId,movieId,rating,timestamp), found 5."},
        {"a bad quoted record",
         Layout::MovieLensCsv,
         csvHeader + "1,1,4,0\n1,\"2\"x,4,0\n",
         {},
         "line 3: expected a comma or the end of the line after a quoted field"},
        {"a movie the catalogue lacks, then a short line",
         Layout::MovieTweetings,
         "1::1::5::0\n2::9::5::0\n1::2\n",
         {},
         "line 2: the movie id 9 is not in the catalogue; expected a movie of the movies file."},
        {"a colon among a timestamp's first eight digits",
         Layout::MovieTweetings,
         "1::1::5::88125:9490\n",
         {},
         "line 1: expected the timestamp as a whole number of seconds, found \"88125:9490\"."},
        {"eleven points",
         Layout::MovieTweetings,
         "1::1::5::0\n1::2::11::0",
         {},
         "line 2: expected a rating from 0 to 10, found \"11\"."},
    };
    CTempFolder folder;
    for (const PiecesCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path path = folder.Write("ratings", c.text);
        const std::string error = c.error.empty() ? "" : path.string() + ", " + c.error;
        // Piece size 0 is the parser's own choice; 1 puts every line in a piece of its own.
        for (std::size_t chunkBytes = 0; chunkBytes <= c.text.size() + 1; ++chunkBytes) {
            for (const unsigned threads : {1U, 2U, 3U}) {
                SCOPED_TRACE("piece size " + std::to_string(chunkBytes) + ", threads " + std::to_string(threads));
                std::vector<Rating> ratings;
                EXPECT_EQ(Parse(path, c.layout, {threads, chunkBytes, {}}, ratings), error);
                EXPECT_EQ(ratings, c.ratings);
            }
        }
    }
}

// The lookup each rating's movie goes through: dense ids, sparse ids of seven digits (as a catalogue keyed by
// another site's ids has them), and ids past the direct table's limit each find their movie and nothing else.
TEST(RatingsPieces, MovieLookupFindsEachIdAndNoOther) {
    const std::vector<std::vector<int>> catalogues{
        {1, 2, 3, 5},
        {2844, 4936, 1074638, 3124456},
        {7, 16777216, 40000000},
    };
    for (const std::vector<int>& ids : catalogues) {
        std::vector<data::MovieRecord> movies(ids.size());
        for (std::size_t i = 0; i < ids.size(); ++i) {
            movies[i].id = ids[i];
        }
        const data::CMovieLookup lookup(movies);
        for (std::size_t i = 0; i < ids.size(); ++i) {
            EXPECT_EQ(lookup.Find(ids[i]), i) << ids[i];
        }
        for (const int absent : {0, -1, 4, 6, 2845, 3124457, 16777215, 16777217, 2147483647}) {
            EXPECT_EQ(lookup.Find(absent), data::CMovieLookup::kNone) << absent;
        }
    }
}

} // namespace
} // namespace quillory::test
