// Where the manifest is looked for, and where a user's store and model cache go: beside writable data, else in his
// XDG folders, never into installed data. Every case runs on its own temporary folders with surroundings the test
// sets, so the process's own environment plays no part.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "DataFolders.h"
#include "DataSet.h"
#include "EngineErrors.h"
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
    CTempFolder root;
    const bool ran = RunAsOrdinaryUser(root.Path(), [&] {
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
    });
    if (!ran) {
        GTEST_SKIP() << "The build folder is closed to other users: the case cannot run as one.";
    }
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

// Sets HOME and the XDG folders for the rest of a child process (RunAsOrdinaryUser), so that CMovieTable, which
// reads them from the environment, keeps the user's files under `home`.
void LiveIn(const fs::path& home) {
    fs::create_directories(home);
    fs::permissions(home, fs::perms::owner_all);
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_CACHE_HOME");
    ::setenv("XDG_DATA_DIRS", (home / "no-system-data").c_str(), 1);
}

// Where the store and the derived files go, for every state a data folder and the user's folders can be in. A
// store that exists is the user's and is used where it is; none is made where the folder cannot be written or where
// one in his data folder already holds his accounts; whichever is used when it is not the one beside the data, or
// when another is left unused, is named; the derived files go where they can, or nowhere, said once.
TEST(DataFolders, AStoreThatExistsIsUsedWhereItIsAndAnyOtherIsNamed) {
    enum Where { Beside, Home, Nowhere };
    struct Case {
        const char* name;
        bool storeBeside, storeInHome, dataReadOnly, cacheUnusable;
        Where store, derived;
        const char* storeNote; // a part of the note, or "" for none
        const char* cacheNote;
    } const cases[] = {
        {"a new data folder", false, false, false, false, Beside, Beside, "", ""},
        {"a store beside read-only data", true, false, true, false, Beside, Home, "", ""},
        {"a store beside read-only data, no cache", true, false, true, true, Beside, Nowhere, "", "is not a folder"},
        {"no store beside read-only data", false, false, true, false, Home, Home, "cannot be written", ""},
        {"a store in the home only", false, true, false, false, Home, Home, "an earlier start kept it there", ""},
        {"a store in both places", true, true, false, false, Beside, Beside, "beside the data is in use; the store",
         ""},
        {"no store, nothing writable", false, false, true, true, Home, Nowhere, "cannot be written", "is not a folder"},
    };
    CTempFolder root;
    const bool ran = RunAsOrdinaryUser(root.Path(), [&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const fs::path at = root.Path() / c.name;
            const fs::path manifest = WriteData(root, std::string(c.name) + "/data");
            const fs::path beside = at / "data/quillory.sqlite";
            Surroundings s;
            s.home = (at / "home").string();
            s.dataDirs = (at / "no-system-data").string();
            if (c.cacheUnusable) {
                s.cacheHome = root.Write(std::string(c.name) + "/cache-is-a-file", "").string();
            }
            const std::string key = data::UserDataKey(manifest);
            const fs::path inHome = at / "home/.local/share/quillory" / key / "quillory.sqlite";
            if (c.storeBeside) {
                root.Write(std::string(c.name) + "/data/quillory.sqlite", "");
            }
            if (c.storeInHome) {
                fs::create_directories(inHome.parent_path());
                fs::permissions(at / "home", fs::perms::owner_all);
                for (fs::path p = inHome.parent_path(); p != at / "home"; p = p.parent_path()) {
                    fs::permissions(p, fs::perms::owner_all);
                }
                std::ofstream(inHome).flush();
            }
            if (c.dataReadOnly) {
                fs::permissions(at / "data", fs::perms::owner_read | fs::perms::owner_exec);
            }
            const data::UserFilePlaces places = data::PlaceStoreFile(manifest, beside, s);
            EXPECT_EQ(places.store, c.store == Beside ? beside : inHome);
            const fs::path cache = at / "home/.cache/quillory" / key / "quillory.sqlite";
            EXPECT_EQ(places.cacheBase, c.derived == Beside ? beside : c.derived == Home ? cache : fs::path());
            if (*c.storeNote == '\0') {
                EXPECT_EQ(places.storeNote, "");
            } else {
                EXPECT_NE(places.storeNote.find(c.storeNote), std::string::npos) << places.storeNote;
                EXPECT_NE(places.storeNote.find(places.store.string()), std::string::npos) << places.storeNote;
            }
            if (*c.cacheNote == '\0') {
                EXPECT_EQ(places.cacheNote, "");
            } else {
                EXPECT_NE(places.cacheNote.find(c.cacheNote), std::string::npos) << places.cacheNote;
            }
            // The derived files hold no account: what is said about them does not speak of accounts or ratings.
            EXPECT_EQ(places.cacheNote.find("account"), std::string::npos) << places.cacheNote;
            EXPECT_EQ(places.cacheNote.find("rating"), std::string::npos) << places.cacheNote;
            // Only the store in use may have been made: nothing is made in the home for a store beside the data.
            EXPECT_EQ(fs::exists(inHome.parent_path()), c.storeInHome || c.store == Home);
            fs::permissions(at / "data", fs::perms::owner_all);
        }
    });
    if (!ran) {
        GTEST_SKIP() << "The build folder is closed to other users: the cases cannot run as one.";
    }
}

// A store beside the data whose file or folder turns read-only stays the user's store: he logs in and sees his
// ratings there, every write says that the store is read-only, nothing is made anywhere else, and once it can be
// written again it holds what it held.
TEST(DataFolders, AStoreThatTurnsReadOnlyIsReadWhereItIsAndRefusesEveryWrite) {
    struct Case {
        const char* name;
        bool folderReadOnly, fileReadOnly;
    } const cases[] = {
        {"its folder read-only", true, false},
        {"its file read-only", false, true},
        {"both read-only", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTempFolder folder;
        const bool ran = RunAsOrdinaryUser(folder.Path(), [&] {
            LiveIn(folder.Path() / "home");
            const fs::path manifest = WriteSmallTweetings(folder, 6, 5);
            const fs::path store = folder.Path() / "quillory.sqlite";
            long ann = NO_USER;
            {
                CMovieTable table;
                table.Init(manifest.string());
                ann = table.InsertUser("ann", "pw-ann");
                ASSERT_NE(ann, NO_USER);
                table.SetNewRating(MovieId(0), ann, 4);
            }
            if (c.fileReadOnly) {
                fs::permissions(store, fs::perms::owner_read);
            }
            if (c.folderReadOnly) {
                fs::permissions(folder.Path(), fs::perms::owner_read | fs::perms::owner_exec);
            }
            {
                CMovieTable table;
                testing::internal::CaptureStderr();
                table.Init(manifest.string());
                const std::string said = testing::internal::GetCapturedStderr();
                EXPECT_NE(said.find("Quillory: the store " + store.string() + " is read-only ("), std::string::npos)
                    << said;
                EXPECT_EQ(table.GetUserID("ann", "pw-ann"), ann);
                double average = 0;
                long count = 0;
                table.GetInfo(ann, average, count);
                EXPECT_EQ(count, 1);
                const std::string refused = "the store " + store.string() + " is read-only (";
                // (A name that is taken is answered from what the store holds: no write is tried for it.)
                for (const auto& write : std::initializer_list<std::function<void()>>{
                         [&] { table.InsertUser("bob", "pw-bob"); }, [&] { table.SetNewRating(MovieId(1), ann, 3); }}) {
                    const Thrown thrown = CatchEngineError(write);
                    EXPECT_EQ(thrown.caption, kStoreErrorCaption);
                    EXPECT_NE(thrown.text.find(refused), std::string::npos) << thrown.text;
                }
                EXPECT_EQ(table.GetUserID("bob", "pw-bob"), NO_USER);
            }
            // No other store was made, where the accounts would silently have gone.
            EXPECT_FALSE(fs::exists(folder.Path() / "home/.local/share/quillory"));
            fs::permissions(folder.Path(), fs::perms::owner_all);
            fs::permissions(store, fs::perms::owner_read | fs::perms::owner_write);
            CMovieTable table;
            table.Init(manifest.string());
            EXPECT_EQ(table.GetUserID("ann", "pw-ann"), ann);
            EXPECT_EQ(table.GetUserID("bob", "pw-bob"), NO_USER);
            EXPECT_NE(table.InsertUser("bob", "pw-bob"), NO_USER);
        });
        if (!ran) {
            GTEST_SKIP() << "The build folder is closed to other users: the cases cannot run as one.";
        }
    }
}

// The derived files hold only what can be rebuilt: whatever keeps the user's cache folder from taking them, the
// program starts, trains in memory and works, says so in one line, and that line speaks of no account or rating.
TEST(DataFolders, WithoutACacheFolderTheProgramStartsAndWorks) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& home, const std::string& key)> block;
        const char* why; // a part of the line's reason
    } const cases[] = {
        {"~/.cache read-only",
         [](const fs::path& home, const std::string&) {
             fs::create_directories(home / ".cache");
             fs::permissions(home / ".cache", fs::perms::owner_read | fs::perms::owner_exec);
         },
         "cannot be created: Permission denied"},
        {"~/.cache/quillory read-only",
         [](const fs::path& home, const std::string&) {
             fs::create_directories(home / ".cache/quillory");
             fs::permissions(home / ".cache", fs::perms::owner_all);
             fs::permissions(home / ".cache/quillory", fs::perms::owner_read | fs::perms::owner_exec);
         },
         "cannot be created: Permission denied"},
        {"the manifest's own cache folder read-only",
         [](const fs::path& home, const std::string& key) {
             for (const fs::path& p : {home / ".cache", home / ".cache/quillory", home / ".cache/quillory" / key}) {
                 fs::create_directories(p);
                 fs::permissions(p, fs::perms::owner_all);
             }
             fs::permissions(home / ".cache/quillory" / key, fs::perms::owner_read | fs::perms::owner_exec);
         },
         "cannot be written"},
        {"~/.cache a file", [](const fs::path& home, const std::string&) { std::ofstream(home / ".cache") << "x"; },
         "is not a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTempFolder folder;
        const bool ran = RunAsOrdinaryUser(folder.Path(), [&] {
            const fs::path home = folder.Path() / "home";
            LiveIn(home);
            // Installed data: its derived files go to the cache folder, never beside it.
            const fs::path system = folder.Path() / "system";
            ::setenv("XDG_DATA_DIRS", system.c_str(), 1);
            const fs::path data = system / "quillory/MovieData";
            fs::create_directories(data);
            WriteSmallTweetings(folder);
            for (const char* name : {"movies.dat", "ratings.dat", "files.txt"}) {
                fs::copy_file(folder.Path() / name, data / name);
            }
            const fs::path manifest = data / "files.txt";
            c.block(home, data::UserDataKey(manifest));
            CMovieTable table;
            testing::internal::CaptureStderr();
            table.Init(manifest.string());
            table.InitMatrices();
            const std::string said = testing::internal::GetCapturedStderr();
            const std::string line = "Quillory: the parsed data and the trained models are not kept";
            EXPECT_NE(said.find(line), std::string::npos) << said;
            EXPECT_NE(said.find(c.why, said.find(line)), std::string::npos) << said;
            // The other line says where the accounts are (installed data); only it may speak of them.
            std::size_t lines = 0;
            for (std::size_t at = said.find("Quillory: "); at != std::string::npos;
                 at = said.find("Quillory: ", at + 1)) {
                ++lines;
                const std::string text = said.substr(at, said.find('\n', at) - at);
                if (text.starts_with(line)) {
                    EXPECT_EQ(text.find("account"), std::string::npos) << text;
                    EXPECT_EQ(text.find("rating"), std::string::npos) << text;
                }
            }
            EXPECT_EQ(lines, 2U) << said;
            const long ann = table.InsertUser("ann", "pw-ann");
            ASSERT_NE(ann, NO_USER);
            table.SetNewRating(MovieId(0), ann, 5);
            EXPECT_FALSE(table.GetTopPicks(ann, 3).empty());
            EXPECT_FALSE(table.GetSimilarMovies(MovieId(0), 3).empty());
            // Nothing was kept beside the installed data either.
            EXPECT_EQ(std::distance(fs::directory_iterator(data), fs::directory_iterator()), 3);
            fs::permissions(home / ".cache", fs::perms::owner_all, fs::perm_options::replace);
        });
        if (!ran) {
            GTEST_SKIP() << "The build folder is closed to other users: the cases cannot run as one.";
        }
    }
}

} // namespace
} // namespace quillory::test
