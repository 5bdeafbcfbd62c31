#include "EngineTestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <unistd.h>

namespace quillory::test {

namespace {

// What the engine keeps in the user's XDG folders (a server store's model cache, the store of installed data) goes
// to the build folder the tests run in, never into the home of whoever runs them.
const bool kUserFoldersInBuildFolder = [] {
    const std::filesystem::path home = std::filesystem::current_path() / "test-home";
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    return true;
}();

} // namespace

CTempFolder::CTempFolder() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = info != nullptr ? std::string(info->name()) : "test";
    // A parameterised test's name holds a slash ("Case/Sqlite"): keep the folder one level deep.
    std::replace(test.begin(), test.end(), '/', '-');
    m_path = std::filesystem::temp_directory_path() /
             ("quillory-" + test + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
    // Whatever the umask: the engine keeps its files only in folders nobody else may write.
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all);
}

CTempFolder::~CTempFolder() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

std::filesystem::path CTempFolder::Write(const std::string& name, std::string_view bytes) const {
    const std::filesystem::path path = m_path / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string CTempFolder::Read(const std::string& name) const {
    std::ifstream in(m_path / name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

Thrown CatchEngineError(const std::function<void()>& action) {
    try {
        action();
    } catch (const CMException& e) {
        return Thrown{e.GetCaption(), e.GetText()};
    }
    ADD_FAILURE() << "expected a CMException";
    return {};
}

int SmallTweetingsRating(int user, int movieIndex) {
    // About half the cells are rated; a user likes one of two genres, and movies belong to one of them.
    if ((user * 7 + movieIndex * 3) % 5 >= 3) {
        return -1;
    }
    const bool likesFirst = user % 2 == 0;
    const bool firstGenre = movieIndex % 2 == 0;
    const int base = likesFirst == firstGenre ? 8 : 3;
    return base + (user + movieIndex) % 3 - 1;
}

std::filesystem::path WriteSmallTweetings(const CTempFolder& folder, int movies, int users) {
    std::string movieLines;
    for (int m = 0; m < movies; ++m) {
        movieLines += std::to_string(1000001 + m) + "::Movie " + std::to_string(m) + " (" +
                      std::to_string(1990 + m % 20) + ")::Drama\n";
    }
    std::string ratingLines;
    for (int u = 1; u <= users; ++u) {
        for (int m = 0; m < movies; ++m) {
            const int rating = SmallTweetingsRating(u, m);
            if (rating >= 0) {
                ratingLines += std::to_string(u) + "::" + std::to_string(1000001 + m) + "::" + std::to_string(rating) +
                               "::" + std::to_string(1365000000 + u * 100 + m) + "\n";
            }
        }
    }
    folder.Write("movies.dat", movieLines);
    folder.Write("ratings.dat", ratingLines);
    return folder.Write(
        "files.txt", "format = movietweetings\nmovies = movies.dat\nratings = ratings.dat\nstore = quillory.sqlite\n");
}

} // namespace quillory::test
