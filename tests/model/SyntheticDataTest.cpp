#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>

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

} // namespace
} // namespace quillory::tools
