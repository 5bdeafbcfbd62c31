// The files the engine derives from the data (the parsed-data snapshot and the model cache): a warm start reads
// them, anything wrong with them costs only a rebuild, and they replace nothing at their names but the user's own
// regular files.

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ByteWriter.h"
#include "DataSet.h"
#include "DataSnapshot.h"
#include "DerivedFileHeader.h"
#include "EngineFixtures.h"
#include "MovieTable.h"

namespace quillory::test {
namespace {

namespace fs = std::filesystem;

constexpr long kMovie0 = 1000001;

ino_t InodeOf(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// What a started engine holds of the data: every rating cell of the first users, and a movie's texts.
std::vector<long> RatingsSeen(const std::string& manifest, int movies, int users) {
    CMovieTable table;
    table.Init(manifest);
    std::vector<long> seen;
    for (int u = 1; u <= users; ++u) {
        for (int m = 0; m < movies; ++m) {
            seen.push_back(table.GetRating(kMovie0 + m, u, ""));
        }
    }
    const MovieItem details = table.GetMovieDetails(3);
    EXPECT_EQ(details.title, "Movie 2 (1992)");
    EXPECT_EQ(details.id, 1000003);
    return seen;
}

TEST(DerivedFiles, SnapshotServesWarmStartsAndIsRebuiltWhenStaleOrDamaged) {
    CTempFolder folder;
    const int movies = 12, users = 20;
    const std::string manifest = WriteSmallTweetings(folder, movies, users).string();
    const fs::path snapshot = folder.Path() / "quillory.sqlite.snapshot";

    const std::vector<long> cold = RatingsSeen(manifest, movies, users);
    ASSERT_TRUE(fs::is_regular_file(snapshot));
    // User 1 gave movie 0 a 3 of 10: two stars.
    EXPECT_EQ(cold[0], 2);
    const std::string good = folder.Read("quillory.sqlite.snapshot");
    EXPECT_EQ(fs::status(snapshot).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    // A warm start reads the snapshot and leaves it as it is.
    const ino_t inode = InodeOf(snapshot);
    EXPECT_EQ(RatingsSeen(manifest, movies, users), cold);
    EXPECT_EQ(InodeOf(snapshot), inode) << "a valid snapshot was written again";

    // Damaged, cut short, or claiming sizes the file does not hold: ignored and made again.
    std::string corrupt = good;
    corrupt[corrupt.size() / 2] = static_cast<char>(corrupt[corrupt.size() / 2] ^ 0x20);
    // The last rating's stars, a change only the checksum sees (the entries are read apart from the rest).
    std::string otherStars = good;
    otherStars[otherStars.size() - 12] = static_cast<char>(otherStars[otherStars.size() - 12] ^ 0x01);
    std::string impossible = good;
    const std::size_t countsAt = impossible.find("ratings:");
    ASSERT_NE(countsAt, std::string::npos);
    const std::size_t moviesAt = impossible.find(';', countsAt) + 1; // the counts follow the fingerprint
    impossible[moviesAt + 7] = '\x7f';
    for (const std::string& bad :
         {corrupt, otherStars, good.substr(0, good.size() - 1), good.substr(0, 40), impossible}) {
        folder.Write("quillory.sqlite.snapshot", bad);
        EXPECT_EQ(RatingsSeen(manifest, movies, users), cold);
        EXPECT_EQ(folder.Read("quillory.sqlite.snapshot"), good);
    }

    // A sparse file of 100 GB is refused on its length, not read.
    ASSERT_EQ(::truncate(snapshot.c_str(), static_cast<off_t>(100) << 30), 0) << std::strerror(errno);
    EXPECT_EQ(RatingsSeen(manifest, movies, users), cold);
    EXPECT_EQ(folder.Read("quillory.sqlite.snapshot"), good);

    // A data file edited to the same length and given back its time is seen: the key is the content.
    const fs::path ratings = folder.Path() / "ratings.dat";
    const auto time = fs::last_write_time(ratings);
    std::string text = folder.Read("ratings.dat");
    ASSERT_EQ(text.compare(0, 25, "1::1000001::3::1365000100"), 0);
    text[12] = '9';
    folder.Write("ratings.dat", text);
    fs::last_write_time(ratings, time);
    const std::vector<long> edited = RatingsSeen(manifest, movies, users);
    EXPECT_EQ(edited[0], 5);
    EXPECT_EQ(std::vector<long>(edited.begin() + 1, edited.end()), std::vector<long>(cold.begin() + 1, cold.end()));
    EXPECT_NE(folder.Read("quillory.sqlite.snapshot"), good);
}

TEST(DerivedFiles, WhatIsNotTheEnginesOwnAtTheirNamesIsLeftAlone) {
    CTempFolder folder;
    const int movies = 12, users = 20;
    const std::string manifest = WriteSmallTweetings(folder, movies, users).string();
    const fs::path snapshot = folder.Path() / "quillory.sqlite.snapshot";
    const fs::path cache = folder.Path() / "quillory.sqlite.model";
    const fs::path victim = folder.Write("victim.txt", "precious");

    // Symlinks at both names: the start goes on, says so in one line each, and writes through neither.
    fs::create_symlink(victim, snapshot);
    fs::create_symlink(victim, cache);
    testing::internal::CaptureStderr();
    {
        CMovieTable table;
        table.Init(manifest);
        table.InitMatrices();
        EXPECT_NO_THROW(table.GetPredictedRating(kMovie0, 1)); // the start went on to a usable model
    }
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(snapshot.string()), std::string::npos) << said;
    EXPECT_NE(said.find(cache.string()), std::string::npos) << said;
    EXPECT_EQ(folder.Read("victim.txt"), "precious");
    EXPECT_TRUE(fs::is_symlink(snapshot));
    EXPECT_TRUE(fs::is_symlink(cache));
    fs::remove(snapshot);
    fs::remove(cache);

    // Another user's files there are kept (only root can give a file away). Not read either: the start goes on.
    if (::geteuid() == 0) {
        for (const fs::path& path : {snapshot, cache}) {
            folder.Write(path.filename().string(), "someone else's file\n");
            ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0) << std::strerror(errno);
        }
        testing::internal::CaptureStderr();
        RatingsSeen(manifest, movies, users);
        said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("left alone: it belongs to another user"), std::string::npos) << said;
        EXPECT_EQ(folder.Read("quillory.sqlite.snapshot"), "someone else's file\n");
        fs::remove(snapshot);
        fs::remove(cache);
    }
    const std::vector<long> seen = RatingsSeen(manifest, movies, users);
    fs::remove(snapshot);
    fs::remove(cache);

    // FIFOs there: nothing waits on them (a blocked open would hang this test until its time limit).
    ASSERT_EQ(::mkfifo(snapshot.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(cache.c_str(), 0600), 0);
    testing::internal::CaptureStderr();
    {
        CMovieTable table;
        table.Init(manifest);
        table.InitMatrices();
        EXPECT_NO_THROW(table.GetPredictedRating(kMovie0, 1)); // the start went on to a usable model
    }
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(fs::is_fifo(snapshot));
    EXPECT_TRUE(fs::is_fifo(cache));
    EXPECT_EQ(RatingsSeen(manifest, movies, users), seen);
}

// Every derived file is written over whatever is at its name, so none may fall on a file the manifest reads: a store
// named so that one of them would be the ratings file is refused, naming that derived file, and the ratings stay.
TEST(DerivedFiles, NoDerivedFileMayFallOnADataFile) {
    struct Case {
        const char* ratings; // the ratings file, named as one derived file of the store "r" would be
        const char* named;   // how the refusal names that derived file
    };
    const Case cases[] = {
        {"r.snapshot", "the data snapshot "},
        {"r.times", "the ratings' times file "},
        {"r.model", "the model cache "},
        {"r.ranking", "the ranking cache "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ratings);
        CTempFolder folder;
        folder.Write("movies.dat", "0000001::A (1990)::Drama\n");
        folder.Write(c.ratings, "1::1::8::0\n");
        const fs::path manifest =
            folder.Write("files.txt", std::string("format = movietweetings\nmovies = movies.dat\nratings = ") +
                                          c.ratings + "\nstore = r\n");
        const Thrown thrown = CatchEngineError([&] { data::ReadManifest(manifest.string()); });
        EXPECT_NE(thrown.text.find(manifest.string() + ", line 4: " + c.named + (folder.Path() / c.ratings).string() +
                                   ", named after the key \"store\", is the file"),
                  std::string::npos)
            << thrown.text;
        EXPECT_EQ(folder.Read(c.ratings), "1::1::8::0\n");
    }
}

// A derived file that a crash left empty, cut short or with bytes that are not ours (between create and write, or
// before the disk had it) is the program's own, at its name and in the user's folder: the next start makes it again,
// and the one after reads it, instead of every start from then on being a cold one.
TEST(DerivedFiles, ADerivedFileLeftEmptyCutShortOrForeignIsMadeAgain) {
    CTempFolder folder;
    const int movies = 12, users = 20;
    const std::string manifest = WriteSmallTweetings(folder, movies, users).string();
    // A start that needs every derived file: the data, the models, and a data user's own ratings with their times.
    const auto start = [&] {
        CMovieTable table;
        table.Init(manifest);
        table.InitMatrices();
        return table.GetUserRatings(1).size();
    };
    const std::size_t rated = start();
    const char* names[] = {"quillory.sqlite.snapshot", "quillory.sqlite.times", "quillory.sqlite.model",
                           "quillory.sqlite.ranking"};
    std::vector<std::string> good;
    for (const char* name : names) {
        good.push_back(folder.Read(name));
        ASSERT_GT(good.back().size(), 64U) << name;
    }
    struct Damage {
        const char* what;
        std::function<std::string(const std::string&)> of; // the damaged bytes of a good file
    };
    const Damage damages[] = {
        {"empty", [](const std::string&) { return std::string(); }},
        {"shorter than its header", [](const std::string& bytes) { return bytes.substr(0, 4); }},
        {"first bytes not ours", [](const std::string& bytes) { return std::string(bytes.size(), '\0'); }},
        {"cut short", [](const std::string& bytes) { return bytes.substr(0, bytes.size() / 2); }},
    };
    for (std::size_t f = 0; f < std::size(names); ++f) {
        for (const Damage& damage : damages) {
            SCOPED_TRACE(std::string(names[f]) + ", " + damage.what);
            folder.Write(names[f], damage.of(good[f]));
            testing::internal::CaptureStderr();
            EXPECT_EQ(start(), rated);
            const std::string said = testing::internal::GetCapturedStderr();
            EXPECT_EQ(said.find("left alone"), std::string::npos) << said;
            EXPECT_EQ(folder.Read(names[f]) == good[f], true) << "not made again";
            // Made again, it serves the next start as it is.
            const ino_t inode = InodeOf(folder.Path() / names[f]);
            EXPECT_EQ(start(), rated);
            EXPECT_EQ(InodeOf(folder.Path() / names[f]), inode) << "made again, yet not used";
        }
    }
}

TEST(DerivedFiles, AModelCacheOfImpossibleSizeIsRebuilt) {
    CTempFolder folder;
    const std::string manifest = WriteSmallTweetings(folder, 15, 30).string();
    const fs::path cache = folder.Path() / "quillory.sqlite.model";
    std::vector<double> expected;
    {
        CMovieTable table;
        table.Init(manifest);
        table.InitMatrices();
        for (int m = 0; m < 15; ++m) {
            expected.push_back(table.GetPredictedRating(kMovie0 + m, 2));
        }
    }
    const std::string good = folder.Read("quillory.sqlite.model");
    // The right header over a sparse file of 100 GB: the start neither fails nor reads it, and trains again.
    ASSERT_EQ(::truncate(cache.c_str(), static_cast<off_t>(100) << 30), 0) << std::strerror(errno);
    CMovieTable table;
    table.Init(manifest);
    EXPECT_NO_THROW(table.InitMatrices());
    std::vector<double> again;
    for (int m = 0; m < 15; ++m) {
        again.push_back(table.GetPredictedRating(kMovie0 + m, 2));
    }
    EXPECT_EQ(again, expected);
    EXPECT_EQ(folder.Read("quillory.sqlite.model"), good);
}

TEST(DerivedFiles, EmptyRatingsStartColdAndWarm) {
    CTempFolder folder;
    WriteSmallTweetings(folder, 6, 4);
    folder.Write("ratings.dat", "");
    const std::string manifest = (folder.Path() / "files.txt").string();
    for (int start = 0; start < 2; ++start) {
        CMovieTable table;
        table.Init(manifest);
        table.InitMatrices();
        const long user = start == 0 ? table.InsertUser("first", "pw") : table.GetUserID("first", "pw");
        ASSERT_NE(user, NO_USER);
        // With no ratings at all, the model can only give the middle of the scale.
        EXPECT_EQ(table.GetPredictedRating(kMovie0 + 2, user), 3.0) << "start " << start;
    }
    EXPECT_TRUE(fs::is_regular_file(folder.Path() / "quillory.sqlite.snapshot"));
    EXPECT_TRUE(fs::is_regular_file(folder.Path() / "quillory.sqlite.model"));
}

TEST(DerivedFiles, HashingTheFilesGivesTheFingerprintParsingGives) {
    // Each layout, with file lengths that are not whole words and a ratings file longer than one block of the
    // hash (1 MiB): the warm start's fingerprint must be the one the text reader computes, or no snapshot and no
    // model cache would ever be used.
    CTempFolder folder;
    folder.Write("a/u.item",
                 "1|Toy Story (1995)|01-Jan-1995||http://example.org/toy|0|0|0|1|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0\n"
                 "2|GoldenEye (1995)|01-Jan-1995|||0|0|0|1|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0\n"
                 "3|Four Rooms (1995)|01-Jan-1995|||0|0|0|1|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0\n");
    const std::string uniqueRatings = [] {
        std::string text;
        for (int user = 1; user <= 20000; ++user) {
            for (int movie = 1; movie <= 3; ++movie) {
                text += std::to_string(user) + "\t" + std::to_string(movie) + "\t" +
                        std::to_string(1 + (user + movie) % 5) + "\t881250949\n";
            }
        }
        return text;
    }();
    folder.Write("a/u.data", uniqueRatings);
    ASSERT_GT(uniqueRatings.size(), (1u << 20) + 7);
    folder.Write("a/files.txt", "format = movielens-100k\nmovies = u.item\nratings = u.data\nstore = s.sqlite\n");
    folder.Write("b/movies.csv", "movieId,title,genres\n1,Heat (1995),Action\n2,\"Say \"\"Hi\"\" (2001)\",Comedy\n");
    folder.Write("b/ratings.csv", "userId,movieId,rating,timestamp\n1,1,0.5,10\n1,2,4.5,11\n2,1,3.0,12\n");
    folder.Write("b/links.csv", "movieId,imdbId,tmdbId\n1,0113277,949\n");
    folder.Write("b/files.txt",
                 "format = movielens-csv\nmovies = movies.csv\nratings = ratings.csv\nlinks = links.csv\nstore = s\n");
    WriteSmallTweetings(folder, 7, 9);
    for (const char* manifest : {"a/files.txt", "b/files.txt", "files.txt"}) {
        const data::Manifest read = data::ReadManifest((folder.Path() / manifest).string());
        const std::optional<data::DataFingerprint> hashed = data::FingerprintDataFiles(read);
        ASSERT_TRUE(hashed.has_value()) << manifest;
        EXPECT_EQ(hashed->text, data::LoadDataSet(read).fingerprint) << manifest;
        const std::optional<data::DataFingerprint> sizes = data::DataFileSizes(read);
        ASSERT_TRUE(sizes.has_value()) << manifest;
        EXPECT_EQ(std::tie(sizes->bytes, sizes->moviesBytes, sizes->ratingsBytes),
                  std::tie(hashed->bytes, hashed->moviesBytes, hashed->ratingsBytes))
            << manifest;
    }
    const std::optional<data::DataFingerprint> csv =
        data::FingerprintDataFiles(data::ReadManifest((folder.Path() / "b/files.txt").string()));
    ASSERT_TRUE(csv.has_value());
    EXPECT_EQ(csv->text.rfind("format:movielens-csv;movies:", 0), 0u) << csv->text;
    EXPECT_NE(csv->text.find(":71;links:"), std::string::npos) << csv->text;
    EXPECT_NE(csv->text.find(":65;"), std::string::npos) << csv->text;
    EXPECT_EQ(csv->bytes, 71u + 36u + 65u);

    // A FIFO named as a data file is not waited on: no fingerprint, and the text reader has its say.
    ASSERT_EQ(::mkfifo((folder.Path() / "b/pipe").c_str(), 0600), 0);
    data::Manifest piped = data::ReadManifest((folder.Path() / "b/files.txt").string());
    piped.ratings = folder.Path() / "b/pipe";
    EXPECT_FALSE(data::FingerprintDataFiles(piped).has_value());
    EXPECT_FALSE(data::DataFileSizes(piped).has_value());
}

// Runs Init and InitMatrices in a child process; true when it succeeded.
pid_t StartInChild(const std::string& manifest) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 0;
        try {
            CMovieTable table;
            table.Init(manifest);
            table.InitMatrices();
            code = table.GetPredictedRating(kMovie0, 1) >= 1.0 ? 0 : 2;
        } catch (...) {
            code = 1;
        }
        ::_exit(code);
    }
    return pid;
}

TEST(DerivedFiles, TwoProgramsSavingAtOnceLeaveValidFiles) {
    // The files one program alone writes, for comparison: training is deterministic and the fingerprint holds no
    // path, so the same data gives the same bytes.
    CTempFolder reference;
    const std::string referenceManifest = WriteSmallTweetings(reference, 30, 80).string();
    {
        CMovieTable table;
        table.Init(referenceManifest);
        table.InitMatrices();
    }
    const std::string snapshot = reference.Read("quillory.sqlite.snapshot");
    const std::string cache = reference.Read("quillory.sqlite.model");
    ASSERT_FALSE(snapshot.empty());
    ASSERT_FALSE(cache.empty());

    CTempFolder folder;
    const std::string manifest = WriteSmallTweetings(folder, 30, 80).string();
    {
        CMovieTable table; // makes the store, so that the two programs below only race on the derived files
        table.Init(manifest);
    }
    for (int round = 0; round < 3; ++round) {
        fs::remove(folder.Path() / "quillory.sqlite.snapshot");
        fs::remove(folder.Path() / "quillory.sqlite.model");
        const pid_t first = StartInChild(manifest);
        const pid_t second = StartInChild(manifest);
        ASSERT_GT(first, 0);
        ASSERT_GT(second, 0);
        for (const pid_t child : {first, second}) {
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        EXPECT_EQ(folder.Read("quillory.sqlite.snapshot"), snapshot) << "round " << round;
        EXPECT_EQ(folder.Read("quillory.sqlite.model"), cache) << "round " << round;
    }
    // No temporary is left behind.
    for (const auto& entry : fs::directory_iterator(folder.Path())) {
        EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    }
}

// A snapshot as the version before genres wrote it, of `snapshot`'s content with the third movie's title changed, so
// that a start which took it would show it.
void WriteFirstVersionSnapshot(const fs::path& path, const std::string& fingerprint, data::Snapshot snapshot) {
    snapshot.movies[2].title = "Stale 2 (1992)";
    std::uint64_t textBytes = 0;
    for (const data::MovieRecord& movie : snapshot.movies) {
        textBytes += movie.title.size() + movie.name.size() + movie.releaseDate.size() + movie.url.size();
    }
    WriteDerivedFile(path, {"QLRSNAPS", 1}, {fingerprint}, [&](CByteWriter& out) {
        out.PutValue(static_cast<std::uint64_t>(snapshot.movies.size()));
        out.PutValue(static_cast<std::uint64_t>(snapshot.users.size()));
        out.PutValue(static_cast<std::uint64_t>(snapshot.ratings.Size()));
        out.PutValue(textBytes);
        for (const data::MovieRecord& movie : snapshot.movies) {
            out.PutValue(static_cast<std::int32_t>(movie.id));
            for (const std::string* text : {&movie.title, &movie.name, &movie.releaseDate, &movie.url}) {
                out.PutValue(static_cast<std::uint32_t>(text->size()));
            }
        }
        for (const data::MovieRecord& movie : snapshot.movies) {
            for (const std::string* text : {&movie.title, &movie.name, &movie.releaseDate, &movie.url}) {
                out.Put(text->data(), text->size());
            }
        }
        out.PutVector(snapshot.users);
        out.PutVector(snapshot.ratings.Offsets());
        out.PutVector(snapshot.ratings.Entries());
    });
}

TEST(DerivedFiles, ASnapshotKeepsTheGenresAndOneOfTheVersionBeforeIsRebuilt) {
    CTempFolder folder;
    const int movies = 12, users = 20;
    const std::string manifest = WriteSmallTweetings(folder, movies, users).string();
    const fs::path snapshot = folder.Path() / "quillory.sqlite.snapshot";
    const std::vector<long> cold = RatingsSeen(manifest, movies, users);
    const std::string good = folder.Read("quillory.sqlite.snapshot");
    const std::optional<data::DataFingerprint> hashed = data::FingerprintDataFiles(data::ReadManifest(manifest));
    ASSERT_TRUE(hashed.has_value());
    data::Snapshot loaded;
    ASSERT_TRUE(data::LoadSnapshot(snapshot, *hashed, loaded));
    EXPECT_EQ(loaded.genres, std::vector<std::string>{"Drama"});
    EXPECT_EQ(loaded.movies[5].genres, 1U);

    // Genre tables and sets of every shape come back as they were saved, the 64th genre's bit included.
    const std::vector<std::pair<std::vector<std::string>, std::vector<data::GenreSet>>> shapes = {
        {{"Action", "Children's", "Film-Noir", "Sci-Fi"}, {0b0011, 0b0100, 0, 0b1000, 0b0101}},
        {{"Com\xc3\xa9"
          "die",
          "Drame"},
         {0b10, 0b01}},
        {{}, {0}},
    };
    for (const auto& [genres, sets] : shapes) {
        data::Snapshot changed = loaded;
        changed.genres = genres;
        for (std::size_t m = 0; m < changed.movies.size(); ++m) {
            changed.movies[m].genres = sets[m % sets.size()];
        }
        data::SaveSnapshot(snapshot, hashed->text, changed);
        data::Snapshot back;
        ASSERT_TRUE(data::LoadSnapshot(snapshot, *hashed, back)) << genres.size();
        EXPECT_EQ(back.genres, genres);
        for (std::size_t m = 0; m < back.movies.size(); ++m) {
            EXPECT_EQ(back.movies[m].genres, sets[m % sets.size()]) << m;
        }
    }
    data::Snapshot widest = loaded;
    widest.genres.clear();
    for (int g = 0; g < 64; ++g) {
        widest.genres.push_back(fmt::format("Genre {:02}", g));
    }
    widest.movies[0].genres = ~data::GenreSet{0};
    data::SaveSnapshot(snapshot, hashed->text, widest);
    data::Snapshot back;
    ASSERT_TRUE(data::LoadSnapshot(snapshot, *hashed, back));
    EXPECT_EQ(back.genres.size(), 64U);
    EXPECT_EQ(back.movies[0].genres, ~data::GenreSet{0});

    // A table the catalogue readers never leave is a damaged file: ignored and made again.
    using Change = std::function<void(data::Snapshot&)>;
    const std::pair<const char*, Change> cases[] = {
        {"a genre past the table's end", [](data::Snapshot& s) { s.movies[0].genres = 0b10; }},
        {"a genre no movie has", [](data::Snapshot& s) { s.genres.push_back("Western"); }},
        {"an empty name",
         [](data::Snapshot& s) {
             s.genres.insert(s.genres.begin(), "");
             s.movies[0].genres = 0b11;
             s.movies[1].genres = 0b10;
         }},
        {"names out of order",
         [](data::Snapshot& s) {
             s.genres.push_back("Comedy");
             s.movies[0].genres = 0b10;
         }},
        {"a name twice",
         [](data::Snapshot& s) {
             s.genres.push_back("Drama");
             s.movies[0].genres = 0b10;
         }},
        {"a control character in a name", [](data::Snapshot& s) { s.genres[0] = "Dra\x01ma"; }},
        {"65 genres",
         [](data::Snapshot& s) {
             s.genres.clear();
             for (int g = 0; g < 65; ++g) {
                 s.genres.push_back(fmt::format("Genre {:02}", g));
             }
             s.movies[0].genres = ~data::GenreSet{0};
         }},
    };
    for (const auto& [what, change] : cases) {
        SCOPED_TRACE(what);
        data::Snapshot changed = loaded;
        change(changed);
        data::SaveSnapshot(snapshot, hashed->text, changed);
        data::Snapshot refused;
        EXPECT_FALSE(data::LoadSnapshot(snapshot, *hashed, refused));
        EXPECT_EQ(RatingsSeen(manifest, movies, users), cold);
        EXPECT_EQ(folder.Read("quillory.sqlite.snapshot"), good) << "not rebuilt";
    }

    // The version before genres, sound in every other respect and made from these very files, is never read: the
    // start reads the text (RatingsSeen checks the third movie's title) and writes the snapshot anew.
    WriteFirstVersionSnapshot(snapshot, hashed->text, loaded);
    const std::string first = folder.Read("quillory.sqlite.snapshot");
    std::uint32_t version = 0;
    std::memcpy(&version, first.data() + 8, sizeof version);
    ASSERT_EQ(version, 1U);
    EXPECT_EQ(RatingsSeen(manifest, movies, users), cold);
    EXPECT_EQ(folder.Read("quillory.sqlite.snapshot"), good) << "not rebuilt";
    CMovieTable table;
    table.Init(manifest);
    EXPECT_EQ(table.GetMovieGenres(3), "Drama");
}

// Snapshots with a right checksum, as anyone who could write the file could make, but ids outside the data's ranges or
// counts the data files cannot hold: ignored, never a reason for a start to fail, and rebuilt from the text.
TEST(DerivedFiles, ASnapshotOfImpossibleIdsOrCountsIsIgnoredAndRebuilt) {
    CTempFolder folder;
    const int movies = 12, users = 20;
    const std::string manifest = WriteSmallTweetings(folder, movies, users).string();
    const fs::path snapshot = folder.Path() / "quillory.sqlite.snapshot";
    const std::vector<long> cold = RatingsSeen(manifest, movies, users);
    const std::string good = folder.Read("quillory.sqlite.snapshot");
    const std::optional<data::DataFingerprint> hashed = data::FingerprintDataFiles(data::ReadManifest(manifest));
    ASSERT_TRUE(hashed.has_value());
    data::Snapshot loaded;
    ASSERT_TRUE(data::LoadSnapshot(snapshot, *hashed, loaded));
    // Read while the files are still being hashed: the fingerprint it was made from is asked about once, last, and
    // a no keeps nothing.
    const std::optional<data::DataFingerprint> sizes = data::DataFileSizes(data::ReadManifest(manifest));
    ASSERT_TRUE(sizes.has_value());
    std::vector<std::string> asked;
    data::Snapshot refused;
    EXPECT_FALSE(data::LoadSnapshot(
        snapshot, *sizes,
        [&](const std::string& saved) {
            asked.push_back(saved);
            return false;
        },
        refused));
    EXPECT_EQ(asked, std::vector<std::string>{hashed->text});
    EXPECT_TRUE(refused.movies.empty());
    using Change = std::function<void(data::Snapshot&)>;
    const auto saved = [&](const Change& change) {
        return [&, change] {
            data::Snapshot changed = loaded;
            change(changed);
            data::SaveSnapshot(snapshot, hashed->text, changed);
        };
    };
    saved([](data::Snapshot&) {})();
    ASSERT_EQ(folder.Read("quillory.sqlite.snapshot"), good) << "what the cases change is all that differs";
    // 2^32 rated entries (the third count after magic, version and the fingerprint's length and text), over a sparse
    // file of the 16 GiB they claim.
    const auto sparse = [&] {
        std::string bytes = good;
        const std::uint64_t claimed = std::uint64_t{1} << 32;
        std::memcpy(bytes.data() + 8 + 4 + 8 + hashed->text.size() + 2 * 8, &claimed, sizeof claimed);
        folder.Write("quillory.sqlite.snapshot", bytes);
        ASSERT_EQ(::truncate(snapshot.c_str(), static_cast<off_t>(bytes.size() + claimed * 4)), 0);
    };
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"data user 2,000,000,000", saved([](data::Snapshot& s) { s.users[0] = 2000000000; })},
        {"user id 0", saved([](data::Snapshot& s) { s.users[0] = 0; })},
        {"user id -1", saved([](data::Snapshot& s) { s.users[0] = -1; })},
        {"movie id -2147483648", saved([](data::Snapshot& s) { s.movies[0].id = std::numeric_limits<int>::min(); })},
        {"more movies than the catalogue file has bytes for", saved([&](data::Snapshot& s) {
             s.movies.resize(hashed->moviesBytes / 2 + 1);
             for (std::size_t m = movies; m < s.movies.size(); ++m) {
                 s.movies[m].id = static_cast<int>(2000000 + m);
             }
         })},
        {"a huge count over a sparse file", sparse},
    };
    for (const auto& [what, write] : cases) {
        SCOPED_TRACE(what);
        write();
        ASSERT_TRUE(fs::file_size(snapshot) != good.size() || folder.Read("quillory.sqlite.snapshot") != good);
        std::vector<long> seen;
        EXPECT_NO_THROW(seen = RatingsSeen(manifest, movies, users));
        EXPECT_EQ(seen, cold);
        EXPECT_TRUE(folder.Read("quillory.sqlite.snapshot") == good) << "not rebuilt";
    }
}

} // namespace
} // namespace quillory::test
