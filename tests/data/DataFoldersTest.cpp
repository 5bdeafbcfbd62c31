// Where the manifest is looked for, and where a user's store and model cache go: beside writable data, else in his
// XDG folders, never into installed data. Every case runs on its own temporary folders with surroundings the test
// sets, so the process's own environment plays no part.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "DataFolders.h"
#include "DataSet.h"
#include "EngineFixtures.h"
#include "MovieTable.h"

namespace quillory::test {
namespace {

namespace fs = std::filesystem;
using data::Surroundings;

constexpr const char* kManifest = "format = movietweetings\nmovies = movies.dat\nratings = ratings.dat\n"
                                  "store = quillory.sqlite\n";

fs::path WriteData(const CTempFolder& folder, const std::string& sub, const std::string& manifest = kManifest) {
    folder.Write(sub + "/movies.dat", "0000001::A (1990)::Drama\n");
    folder.Write(sub + "/ratings.dat", "1::1::8::0\n");
    return folder.Write(sub + "/files.txt", manifest);
}

// Every file and folder below `root`, for checking that nothing was added.
std::vector<fs::path> Listing(const fs::path& root) {
    std::vector<fs::path> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        entries.push_back(entry.path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

unsigned ModeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777U;
}

TEST(DataFolders, XdgBaseFoldersWhenSetUnsetEmptyOrRelative) {
    Surroundings s;
    s.home = "/home/ann";
    EXPECT_EQ(data::DataHome(s), fs::path("/home/ann/.local/share"));
    EXPECT_EQ(data::CacheHome(s), fs::path("/home/ann/.cache"));
    EXPECT_EQ(data::DataDirs(s), (std::vector<fs::path>{"/usr/local/share", "/usr/share"}));

    s.dataHome = "";
    s.cacheHome = "";
    s.dataDirs = "";
    EXPECT_EQ(data::DataHome(s), fs::path("/home/ann/.local/share"));
    EXPECT_EQ(data::CacheHome(s), fs::path("/home/ann/.cache"));
    EXPECT_EQ(data::DataDirs(s), (std::vector<fs::path>{"/usr/local/share", "/usr/share"}));

    // Relative paths would depend on the working directory: ignored, as the XDG rules say.
    s.dataHome = "data";
    s.cacheHome = "./cache";
    s.dataDirs = "/opt/a/::relative:/opt/b";
    EXPECT_EQ(data::DataHome(s), fs::path("/home/ann/.local/share"));
    EXPECT_EQ(data::CacheHome(s), fs::path("/home/ann/.cache"));
    EXPECT_EQ(data::DataDirs(s), (std::vector<fs::path>{"/opt/a/", "/opt/b"}));

    s.dataHome = "/x/share";
    s.cacheHome = "/x/cache";
    EXPECT_EQ(data::DataHome(s), fs::path("/x/share"));
    EXPECT_EQ(data::CacheHome(s), fs::path("/x/cache"));

    // No home at all: no default, rather than a folder relative to wherever the program runs.
    Surroundings homeless;
    homeless.home = "";
    EXPECT_TRUE(data::DataHome(homeless).empty());
    EXPECT_TRUE(data::CacheHome(homeless).empty());
}

TEST(DataFolders, SearchOrderAndNamesOfUserFolders) {
    Surroundings s;
    s.home = "/home/ann";
    s.dataDirs = "/d1:/d2";
    s.workingDirectory = "/w";
    s.programDirectory = "/opt/q/bin";
    EXPECT_EQ(data::ManifestFolders(s),
              (std::vector<fs::path>{"/w", "/opt/q/bin", "/home/ann/.local/share/quillory", "/d1/quillory",
                                     "/d2/quillory", "/opt/q/share/quillory"}));
    s.dataHome = "/h";
    EXPECT_EQ(data::ManifestFolders(s).at(2), fs::path("/h/quillory"));

    // Published FNV-1a 64 test vectors: the names must not change between versions, or users lose their stores.
    EXPECT_EQ(data::ShortHash(""), "cbf29ce484222325");
    EXPECT_EQ(data::ShortHash("a"), "af63dc4c8601ec8c");
    EXPECT_EQ(data::UserDataKey("/srv/data/MovieData/files.txt"), "MovieData-a168ea0cb598f89d");
    EXPECT_EQ(data::UserDataKey("/srv/My Data/files.txt").substr(0, 8), "My_Data-");
}

TEST(DataFolders, ManifestIsFoundInTheFirstPlaceThatHasIt) {
    CTempFolder root;
    Surroundings s;
    s.home = (root.Path() / "home").string();
    s.dataHome = (root.Path() / "xdg-data").string();
    s.dataDirs = (root.Path() / "sys1").string() + ":" + (root.Path() / "sys2").string();
    s.workingDirectory = root.Path() / "cwd";
    s.programDirectory = root.Path() / "prefix/bin";
    const std::vector<std::string> places = {"cwd",           "prefix/bin",    "xdg-data/quillory",
                                             "sys1/quillory", "sys2/quillory", "prefix/share/quillory"};
    for (const std::string& place : places) {
        WriteData(root, place + "/MovieData");
    }
    // Take the places away from the front: each time the next one answers.
    for (const std::string& place : places) {
        SCOPED_TRACE(place);
        const data::Manifest manifest = data::ReadManifest("MovieData\\files.txt", s);
        EXPECT_EQ(manifest.file, root.Path() / place / "MovieData/files.txt");
        fs::remove_all(root.Path() / place / "MovieData");
    }
    const Thrown thrown = CatchEngineError([&] { data::ReadManifest("MovieData\\files.txt", s); });
    std::size_t at = 0;
    for (const std::string& place : places) {
        const std::string looked = (root.Path() / place / "MovieData/files.txt").string();
        const std::size_t found = thrown.text.find(looked, at);
        EXPECT_NE(found, std::string::npos) << looked << " in order in: " << thrown.text;
        at = found == std::string::npos ? at : found;
    }
}

TEST(DataFolders, StoreBesideWritableDataElseInTheUsersXdgFolders) {
    CTempFolder root;
    Surroundings s;
    s.home = (root.Path() / "home").string();
    s.dataDirs = (root.Path() / "sys").string();
    s.workingDirectory = root.Path() / "elsewhere";
    s.programDirectory = root.Path() / "prefix/bin";
    fs::create_directories(root.Path() / "home");
    fs::create_directories(root.Path() / "prefix/bin");

    // Today's data folders: store and cache beside the manifest, as the manifest says.
    const fs::path own = WriteData(root, "own/MovieData");
    data::Manifest manifest = data::ReadManifest(own.string(), s);
    EXPECT_EQ(manifest.store, root.Path() / "own/MovieData/quillory.sqlite");
    EXPECT_EQ(manifest.cacheBase, manifest.store);
    EXPECT_TRUE(manifest.storeUri.empty());
    EXPECT_FALSE(fs::exists(root.Path() / "home/.local"));

    // Installed data, found from another working directory: the user's folders, even for root, who could write.
    WriteData(root, "prefix/share/quillory/MovieData");
    const std::vector<fs::path> before = Listing(root.Path() / "prefix");
    manifest = data::ReadManifest("MovieData\\files.txt", s);
    const fs::path installedManifest = root.Path() / "prefix/share/quillory/MovieData/files.txt";
    EXPECT_EQ(manifest.file, installedManifest);
    const std::string key = "MovieData-" + data::ShortHash(installedManifest.string());
    EXPECT_EQ(manifest.store, root.Path() / "home/.local/share/quillory" / key / "quillory.sqlite");
    EXPECT_EQ(manifest.cacheBase, root.Path() / "home/.cache/quillory" / key / "quillory.sqlite");
    EXPECT_EQ(ModeOf(root.Path() / "home/.local/share/quillory" / key), 0700U);
    EXPECT_EQ(ModeOf(root.Path() / "home/.local/share/quillory"), 0700U);
    EXPECT_EQ(ModeOf(root.Path() / "home/.cache/quillory" / key), 0700U);
    EXPECT_EQ(Listing(root.Path() / "prefix"), before);

    // A second installed manifest keeps its own store; XDG variables move both folders.
    WriteData(root, "sys/quillory/Other");
    s.dataHome = (root.Path() / "data-home").string();
    s.cacheHome = (root.Path() / "cache-home").string();
    const data::Manifest other = data::ReadManifest("Other/files.txt", s);
    EXPECT_EQ(other.store.parent_path().parent_path(), root.Path() / "data-home/quillory");
    EXPECT_EQ(other.cacheBase.parent_path().parent_path(), root.Path() / "cache-home/quillory");
    EXPECT_EQ(other.store.parent_path().filename().string().substr(0, 6), "Other-");
    EXPECT_NE(other.store.parent_path().filename(), manifest.store.parent_path().filename());

    // A server store is no file: only the cache needs a place.
    const fs::path server = WriteData(root, "server",
                                      "format = movietweetings\nmovies = movies.dat\n"
                                      "ratings = ratings.dat\nstore = postgresql://db/ratings\n");
    const data::Manifest remote = data::ReadManifest(server.string(), s);
    EXPECT_EQ(remote.storeUri, "postgresql://db/ratings");
    EXPECT_TRUE(remote.store.empty());
    EXPECT_EQ(remote.cacheBase.parent_path().parent_path(), root.Path() / "cache-home/quillory");
    EXPECT_EQ(remote.cacheBase.filename(), "server-" + data::ShortHash("postgresql://db/ratings"));
    EXPECT_FALSE(fs::exists(root.Path() / "server/quillory.sqlite"));
}

TEST(DataFolders, ReadOnlyDataFolderKeepsTheStoreInTheUsersFolders) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "Running as root, who may write into any folder: a read-only data folder cannot be made.";
    }
    CTempFolder root;
    Surroundings s;
    s.home = (root.Path() / "home").string();
    s.dataDirs = "";
    const fs::path manifestPath = WriteData(root, "ro");
    fs::permissions(root.Path() / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    const data::Manifest manifest = data::ReadManifest(manifestPath.string(), s);
    fs::permissions(root.Path() / "ro", fs::perms::owner_all);
    EXPECT_EQ(manifest.store.parent_path().parent_path(), root.Path() / "home/.local/share/quillory");
    EXPECT_EQ(manifest.store.filename(), "quillory.sqlite");
    EXPECT_EQ(manifest.cacheBase.parent_path().parent_path(), root.Path() / "home/.cache/quillory");
}

TEST(DataFolders, CurrentSurroundingsReadTheEnvironment) {
    CTempFolder root;
    const char* names[] = {"HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CACHE_HOME"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        saved.push_back(value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    ::setenv("HOME", "/home/bo", 1);
    ::setenv("XDG_DATA_HOME", "", 1);
    ::unsetenv("XDG_DATA_DIRS");
    ::setenv("XDG_CACHE_HOME", "/c", 1);
    // The working directory as the process has it, and the folder of the running program (the test's own).
    const fs::path before = fs::current_path();
    fs::current_path(root.Path());
    const Surroundings s = data::CurrentSurroundings();
    fs::current_path(before);
    for (std::size_t i = 0; i < saved.size(); ++i) {
        if (saved[i]) {
            ::setenv(names[i], saved[i]->c_str(), 1);
        } else {
            ::unsetenv(names[i]);
        }
    }
    EXPECT_EQ(s.home, std::optional<std::string>("/home/bo"));
    EXPECT_EQ(s.dataHome, std::optional<std::string>(""));
    EXPECT_EQ(s.dataDirs, std::nullopt);
    EXPECT_EQ(s.cacheHome, std::optional<std::string>("/c"));
    EXPECT_EQ(fs::canonical(s.workingDirectory), fs::canonical(root.Path()));
    EXPECT_TRUE(fs::is_regular_file(s.programDirectory / "quillory_data_tests")) << s.programDirectory;
}

// A data folder in a shared folder, both writable by all, as someone may leave one where the program is started: its
// manifest and data are read, but the store and both derived files go to the user's XDG folders, nothing beside it.
TEST(DataFolders, AManifestInAFolderOthersMayWriteIsReadButNothingIsWrittenThere) {
    CTempFolder shared;
    const fs::path manifest = WriteSmallTweetings(shared, 6, 5);
    fs::permissions(shared.Path(), fs::perms::all);
    const std::vector<fs::path> before = Listing(shared.Path());
    const std::string key = data::UserDataKey(manifest);
    const data::Surroundings s = data::CurrentSurroundings();
    const fs::path store = data::DataHome(s) / "quillory" / key, cache = data::CacheHome(s) / "quillory" / key;
    {
        CMovieTable table;
        table.Init(manifest.string());
        table.InitMatrices();
        EXPECT_EQ(table.GetMovieDetails(2).title, "Movie 1 (1991)");
        EXPECT_GE(table.InsertUser("ann", "pw-ann"), 2000000000);
    }
    EXPECT_EQ(Listing(shared.Path()), before);
    EXPECT_TRUE(fs::is_regular_file(store / "quillory.sqlite"));
    EXPECT_TRUE(fs::is_regular_file(cache / "quillory.sqlite.snapshot"));
    EXPECT_TRUE(fs::is_regular_file(cache / "quillory.sqlite.model"));
    fs::remove_all(store);
    fs::remove_all(cache);
}

} // namespace
} // namespace quillory::test
