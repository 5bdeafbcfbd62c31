#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "MException.h"

namespace quillory::test {

// A fresh folder under the system's temporary directory, removed with everything in it at the end of the test.
class CTempFolder {
public:
    CTempFolder();
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // Writes `bytes` to the file `name` in the folder (exactly those bytes) and returns its path.
    std::filesystem::path Write(const std::string& name, std::string_view bytes) const;
    // Every byte of the file `name`.
    std::string Read(const std::string& name) const;

private:
    std::filesystem::path m_path;
};

// The caption and text of the CMException `action` throws; fails the test when it throws nothing.
struct Thrown {
    std::string caption;
    std::string text;
};
Thrown CatchEngineError(const std::function<void()>& action);

// A small movietweetings data set: `movies` movies with ids 1000001.. and ratings by `users` users (ids 1..), made
// from two hidden tastes so that a factor model has something to learn. Writes movies.dat, ratings.dat and a
// manifest files.txt with store quillory.sqlite into `folder`; returns the manifest's path.
std::filesystem::path WriteSmallTweetings(const CTempFolder& folder, int movies = 40, int users = 60);

// A rating by the same rule WriteSmallTweetings uses (0..10), or -1 when that user did not rate that movie.
int SmallTweetingsRating(int user, int movieIndex);

// The movie id of catalogue index `m` in WriteSmallTweetings data.
inline long MovieId(int m) {
    return 1000001 + m;
}

} // namespace quillory::test
