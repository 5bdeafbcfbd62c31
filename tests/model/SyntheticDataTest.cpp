#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "EngineFixtures.h"
#include "SyntheticData.h"

namespace quillory::tools {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SyntheticData, WritesTheMovieLensLayoutWithoutRepeatsAndRepeatably) {
    const quillory::test::CTempFolder temp;
    const fs::path folder = temp.Path();
    SyntheticDataSettings settings;
    settings.users = 50;
    settings.movies = 80;
    settings.ratings = 1500;
    settings.seed = 9;
    GenerateSyntheticData(settings, folder / "a");
    GenerateSyntheticData(settings, folder / "b");

    const std::string ratings = ReadAll(folder / "a" / "u.data");
    EXPECT_EQ(ratings, ReadAll(folder / "b" / "u.data"));
    EXPECT_EQ(ReadAll(folder / "a" / "u.item"), ReadAll(folder / "b" / "u.item"));
    const std::string manifest = ReadAll(folder / "a" / "files.txt");
    EXPECT_NE(manifest.find("format = movielens-100k"), std::string::npos);
    EXPECT_NE(manifest.find("ratings = u.data"), std::string::npos);

    std::istringstream lines(ratings);
    std::set<std::pair<int, int>> pairs;
    std::set<int> stars;
    int user = 0, movie = 0, rating = 0;
    long long timestamp = 0;
    std::size_t count = 0;
    while (lines >> user >> movie >> rating >> timestamp) {
        ++count;
        EXPECT_TRUE(pairs.emplace(user, movie).second) << user << " rated " << movie << " twice";
        EXPECT_TRUE(user >= 1 && user <= 50 && movie >= 1 && movie <= 80);
        stars.insert(rating);
    }
    EXPECT_EQ(count, 1500u);
    EXPECT_EQ(*stars.begin(), 1);
    EXPECT_EQ(*stars.rbegin(), 5);

    std::istringstream items(ReadAll(folder / "a" / "u.item"));
    std::string line;
    std::size_t movies = 0;
    while (std::getline(items, line)) {
        ++movies;
        EXPECT_EQ(std::count(line.begin(), line.end(), '|'), 23) << line;
    }
    EXPECT_EQ(movies, 80u);

    // More ratings than the pairs allow is refused, not looped on.
    settings.ratings = 50 * 80;
    EXPECT_THROW(GenerateSyntheticData(settings, folder / "c"), std::runtime_error);
}

struct Generated {
    std::vector<std::uint32_t> genres; // per movie, a bit per genre flag
    std::vector<int> years;
    std::vector<std::vector<int>> rated; // per user, his movies (1-based ids)
    std::size_t ratings = 0;
    std::set<int> stars;
    bool repeated = false;
};

Generated Read(const fs::path& folder) {
    Generated g;
    std::istringstream items(ReadAll(folder / "u.item"));
    std::string line;
    while (std::getline(items, line)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t bar = line.find('|'); bar != std::string::npos; bar = line.find('|', start)) {
            fields.push_back(line.substr(start, bar - start));
            start = bar + 1;
        }
        fields.push_back(line.substr(start));
        EXPECT_EQ(fields.size(), 24u) << line;
        std::uint32_t bits = 0;
        for (std::size_t f = 5; f < fields.size(); ++f) {
            EXPECT_TRUE(fields[f] == "0" || fields[f] == "1") << line;
            bits |= (fields[f] == "1" ? 1U : 0U) << (f - 5);
        }
        g.genres.push_back(bits);
        g.years.push_back(std::stoi(fields[2].substr(fields[2].size() - 4)));
    }
    std::istringstream lines(ReadAll(folder / "u.data"));
    std::set<std::pair<int, int>> pairs;
    int user = 0, movie = 0, rating = 0;
    long long timestamp = 0;
    while (lines >> user >> movie >> rating >> timestamp) {
        ++g.ratings;
        g.repeated = g.repeated || !pairs.emplace(user, movie).second;
        if (g.rated.size() < std::size_t(user)) {
            g.rated.resize(user);
        }
        g.rated[user - 1].push_back(movie);
        g.stars.insert(rating);
    }
    return g;
}

// How far users' genres stray from everybody's: the mean over users of the largest ratio of his share of ratings in
// a genre to that genre's share of all ratings, over the genres that hold 3% of all ratings or more.
double GenreLift(const Generated& g) {
    std::vector<double> all(19, 0.0);
    for (const auto& movies : g.rated) {
        for (int m : movies) {
            for (int genre = 0; genre < 19; ++genre) {
                all[genre] += (g.genres[m - 1] >> genre) & 1U;
            }
        }
    }
    double sum = 0.0;
    for (const auto& movies : g.rated) {
        double most = 0.0;
        for (int genre = 0; genre < 19; ++genre) {
            if (all[genre] < 0.03 * double(g.ratings)) {
                continue;
            }
            const auto in =
                std::count_if(movies.begin(), movies.end(), [&](int m) { return (g.genres[m - 1] >> genre) & 1U; });
            most = std::max(most, (double(in) / double(movies.size())) / (all[genre] / double(g.ratings)));
        }
        sum += most;
    }
    return sum / double(g.rated.size());
}

TEST(SyntheticData, TasteModeGivesGenresErasAndUsersWhoKeepToTheirGenres) {
    const quillory::test::CTempFolder temp;
    const fs::path folder = temp.Path();
    SyntheticDataSettings settings;
    settings.users = 60;
    settings.movies = 300;
    settings.ratings = 3000;
    settings.seed = 4;
    settings.taste = true;
    GenerateSyntheticData(settings, folder / "a");
    GenerateSyntheticData(settings, folder / "b");
    settings.seed = 5;
    GenerateSyntheticData(settings, folder / "c");
    settings.taste = false;
    GenerateSyntheticData(settings, folder / "uniform");

    EXPECT_EQ(ReadAll(folder / "a" / "u.data"), ReadAll(folder / "b" / "u.data"));
    EXPECT_EQ(ReadAll(folder / "a" / "u.item"), ReadAll(folder / "b" / "u.item"));
    EXPECT_NE(ReadAll(folder / "a" / "u.data"), ReadAll(folder / "c" / "u.data"));
    EXPECT_NE(ReadAll(folder / "a" / "files.txt").find("format = movielens-100k"), std::string::npos);

    const Generated g = Read(folder / "a");
    EXPECT_EQ(g.ratings, 3000u);
    EXPECT_FALSE(g.repeated);
    EXPECT_EQ(g.stars, (std::set<int>{1, 2, 3, 4, 5}));
    ASSERT_EQ(g.genres.size(), 300u);
    ASSERT_EQ(g.rated.size(), 60u);
    for (std::size_t m = 0; m < g.genres.size(); ++m) {
        EXPECT_GE(std::popcount(g.genres[m]), 1) << "movie " << m + 1;
        EXPECT_LE(std::popcount(g.genres[m]), 3) << "movie " << m + 1;
        EXPECT_GE(g.years[m], 1930);
        EXPECT_LE(g.years[m], 1998);
    }
    for (const auto& movies : g.rated) {
        EXPECT_GE(movies.size(), 20u);
    }
    // Users keep to the genres they like: far more than those who pick by popularity alone.
    EXPECT_GT(GenreLift(g), 2.2);
    EXPECT_LT(GenreLift(Read(folder / "uniform")), 1.9);
}

} // namespace
} // namespace quillory::tools
