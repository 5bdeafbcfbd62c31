// The manifest: how its path is found, what it may hold, and that every fault names the manifest, line and key.
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "DataSet.h"
#include "EngineErrors.h"
#include "EngineFixtures.h"

namespace quillory::test {
namespace {

// Changes the working directory for the life of the object.
class CWorkingDirectory {
public:
    explicit CWorkingDirectory(const std::filesystem::path& path) : m_old(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~CWorkingDirectory() { std::filesystem::current_path(m_old); }

private:
    std::filesystem::path m_old;
};

void WriteDataFiles(const CTempFolder& folder, const std::string& sub = "MovieData") {
    folder.Write(sub + "/movies.dat", "0000001::A (1990)::Drama\n");
    folder.Write(sub + "/ratings.dat", "1::1::8::0\n");
}

TEST(Manifest, BackslashPathRelativeToWorkingDirectoryWithBomCrlfAndComments) {
    CTempFolder folder;
    WriteDataFiles(folder);
    folder.Write("MovieData/files.txt", "\xEF\xBB\xBF# the default data\r\n\r\n  format =  movietweetings  \r\n"
                                        "movies=movies.dat\r\n\t# indented comment\r\nratings = ratings.dat\r\n"
                                        "store = sub\\..\\quillory.sqlite\r\n");
    std::filesystem::create_directories(folder.Path() / "MovieData/sub");
    const CWorkingDirectory cwd(folder.Path());
    const data::Manifest manifest = data::ReadManifest("MovieData\\files.txt");
    EXPECT_EQ(manifest.layout, data::Layout::MovieTweetings);
    EXPECT_TRUE(std::filesystem::equivalent(manifest.movies, folder.Path() / "MovieData/movies.dat"));
    EXPECT_TRUE(std::filesystem::equivalent(manifest.ratings, folder.Path() / "MovieData/ratings.dat"));
    EXPECT_EQ(manifest.store.filename(), "quillory.sqlite");
    EXPECT_TRUE(manifest.links.empty());
}

TEST(Manifest, FoundBesideTheProgramWhenNotInTheWorkingDirectory) {
    // The test binary's own folder stands in for the program's.
    const std::filesystem::path exeDir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const std::string sub = "manifest-beside-" + std::to_string(::getpid());
    CTempFolder elsewhere;
    const std::filesystem::path data = exeDir / sub;
    std::filesystem::create_directories(data);
    struct Remover {
        std::filesystem::path path;
        ~Remover() {
            std::error_code error;
            std::filesystem::remove_all(path, error);
        }
    } remover{data};
    {
        std::ofstream(data / "movies.dat") << "0000001::A (1990)::Drama\n";
        std::ofstream(data / "ratings.dat") << "1::1::8::0\n";
        std::ofstream(data / "files.txt") << "format = movietweetings\nmovies = movies.dat\nratings = ratings.dat\n"
                                             "store = s.sqlite\n";
    }
    const CWorkingDirectory cwd(elsewhere.Path());
    const data::Manifest manifest = data::ReadManifest(sub + "\\files.txt");
    EXPECT_EQ(manifest.movies, data / "movies.dat");

    const Thrown missing = CatchEngineError([&] { data::ReadManifest("Nowhere\\files.txt"); });
    EXPECT_NE(missing.text.find("Nowhere/files.txt"), std::string::npos) << missing.text;
    EXPECT_NE(missing.text.find(elsewhere.Path().string()), std::string::npos) << missing.text;
}

TEST(Manifest, EveryFaultNamesTheManifestLineAndKey) {
    struct Case {
        const char* what;
        std::string text;
        const char* expected; // after "<manifest>"
    };
    const std::string good = "format = movietweetings\nmovies = movies.dat\nratings = ratings.dat\nstore = s.sqlite\n";
    const Case cases[] = {
        {"unknown key", "format = movietweetings\nmovie = movies.dat\n", ", line 2: unknown key \"movie\""},
        {"repeated key",
         "format = movietweetings\nmovies = movies.dat\nratings = ratings.dat\nstore = s.sqlite\nmovies = m.dat\n",
         ", line 5: the key \"movies\" is given again (first on line 2)"},
        {"missing key", "format = movietweetings\nmovies = movies.dat\nstore = s.sqlite\n",
         ": the key \"ratings\" is missing"},
        {"no equals sign", "format movietweetings\n", ", line 1: expected a line \"key = value\""},
        {"empty value", "format =\n", ", line 1: the key \"format\" has no value"},
        {"unknown format", "format = netflix\nmovies = movies.dat\nratings = ratings.dat\nstore = s.sqlite\n",
         ", line 1: the format \"netflix\" is not known"},
        {"file missing", "format = movietweetings\nmovies = films.dat\nratings = ratings.dat\nstore = s.sqlite\n",
         ", line 2: cannot open the file"},
        {"links for another format", good + "links = links.csv\n",
         ", line 5: the key \"links\" belongs to the movielens-csv format only"},
        {"csv without links", "format = movielens-csv\nmovies = movies.dat\nratings = ratings.dat\nstore = s.sqlite\n",
         ": the key \"links\" is missing"},
        {"store folder missing",
         "format = movietweetings\nmovies = movies.dat\nratings = ratings.dat\nstore = no/such/s.sqlite\n",
         ", line 4: the folder of the store"},
        {"lone carriage return", "format = movietweetings\nmovies = movies.dat\rratings = ratings.dat\nstore = s\n",
         ", line 2: expected lines to end with LF or CRLF"},
        {"control character", "format = movietweetings\nmovies = movies.dat\x01\n", ", line 2: expected text without"},
        {"C1 control", "format = movietweetings\nmovies = movies\xC2\x85.dat\n",
         ", line 2: expected text without control characters."},
        {"line separator", "format = movietweetings\nratings = a\xE2\x80\xA8.dat\n",
         ", line 2: expected text without control characters."},
        {"paragraph separator", "format\xE2\x80\xA9= movietweetings\n", ", line 1: expected text without control"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTempFolder folder;
        WriteDataFiles(folder, ".");
        const auto path = folder.Write("files.txt", c.text);
        const Thrown thrown = CatchEngineError([&] { data::ReadManifest(path.string()); });
        EXPECT_EQ(thrown.caption, kDataErrorCaption);
        EXPECT_NE(thrown.text.find(path.string() + c.expected), std::string::npos) << thrown.text;
    }
}

TEST(Manifest, StoreOrCacheFallingOnAFileTheManifestReadsIsRefused) {
    struct Case {
        const char* what;
        std::string store;
        const char* written; // what would be written over
        const char* read;    // the key whose file it is
    };
    const Case cases[] = {
        {"store is the ratings", "ratings.dat", "the store ", "the key \"ratings\""},
        {"store reaches the catalogue through ..", "sub/../movies.dat", "the store ", "the key \"movies\""},
        {"store is a symbolic link to the ratings", "link.sqlite", "the store ", "the key \"ratings\""},
        {"store is the manifest", "files.txt", "the store ", "the manifest itself"},
        {"journal on the catalogue", "movies", "the store's journal ", "the key \"movies\""},
        {"model cache on the ratings", "ratings", "the model cache ", "the key \"ratings\""},
        {"snapshot on the catalogue", "m", "the data snapshot ", "the key \"movies\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTempFolder folder;
        std::filesystem::create_directories(folder.Path() / "sub");
        const std::string movies = std::string(c.what).starts_with("journal")    ? "movies-wal"
                                   : std::string(c.what).starts_with("snapshot") ? "m.snapshot"
                                                                                 : "movies.dat";
        const std::string ratings = std::string(c.what).starts_with("model") ? "ratings.model" : "ratings.dat";
        folder.Write(movies, "0000001::A (1990)::Drama\n");
        folder.Write(ratings, "1::1::8::0\n");
        std::filesystem::create_symlink(folder.Path() / ratings, folder.Path() / "link.sqlite");
        const std::string before = folder.Read(ratings);
        const auto path = folder.Write("files.txt", "format = movietweetings\nmovies = " + movies +
                                                        "\nratings = " + ratings + "\nstore = " + c.store + "\n");
        const Thrown thrown = CatchEngineError([&] { data::ReadManifest(path.string()); });
        EXPECT_EQ(thrown.caption, kDataErrorCaption);
        EXPECT_NE(thrown.text.find(path.string() + ", line 4: " + c.written), std::string::npos) << thrown.text;
        EXPECT_NE(thrown.text.find("named after the key \"store\", is "), std::string::npos) << thrown.text;
        EXPECT_NE(thrown.text.find(c.read), std::string::npos) << thrown.text;
        EXPECT_EQ(folder.Read(ratings), before);
    }

    // A store of its own beside the data is fine, also one whose name merely starts like a data file's.
    CTempFolder folder;
    WriteDataFiles(folder, ".");
    const auto path = folder.Write("files.txt", "format = movietweetings\nmovies = movies.dat\n"
                                                "ratings = ratings.dat\nstore = ratings.dat.sqlite\n");
    EXPECT_EQ(data::ReadManifest(path.string()).store, folder.Path() / "ratings.dat.sqlite");
}

} // namespace
} // namespace quillory::test
