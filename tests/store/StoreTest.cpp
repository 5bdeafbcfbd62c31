// The store: accounts and entered ratings survive a kill, names and passwords are checked exactly, no password is
// kept in clear, a file that is not ours is refused untouched, and a write that cannot be made, or that would go to a
// file no longer at the store's path, is an error.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "EngineErrors.h"
#include "EngineFixtures.h"
#include "MovieTable.h"
#include "PasswordHash.h"
#include "SqliteStore.h"

namespace quillory::test {
namespace {

// A movie index user `user` did not rate in WriteSmallTweetings data.
int UnratedBy(int user) {
    for (int m = 0;; ++m) {
        if (SmallTweetingsRating(user, m) < 0) {
            return m;
        }
    }
}

std::string EveryByteIn(const std::filesystem::path& folder) {
    std::string bytes;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            bytes.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return bytes;
}

TEST(Store, AcknowledgedWritesSurviveAKill) {
    CTempFolder folder;
    const std::string manifest = WriteSmallTweetings(folder, 10, 10).string();
    const int unrated = UnratedBy(1);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // No test assertions in the child: its exit status tells the parent how far it got.
        try {
            CMovieTable table;
            table.Init(manifest);
            const long id = table.InsertUser("survivor", "kill-test-password");
            if (id == NO_USER) {
                ::_exit(2);
            }
            table.SetNewRating(MovieId(3), id, 4);
            table.SetNewRating(MovieId(unrated), 1, 2);
            ::raise(SIGKILL); // right after the calls return: nothing may be lost
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child status " << status;

    CMovieTable table;
    table.Init(manifest);
    const long id = table.GetUserID("survivor", "kill-test-password");
    ASSERT_NE(id, NO_USER);
    EXPECT_EQ(table.GetRating(MovieId(3), id, ""), 4);
    EXPECT_EQ(table.GetRating(MovieId(unrated), 1, ""), 2);
    double average = 0;
    long count = 0;
    table.GetInfo(id, average, count);
    EXPECT_EQ(count, 1);
}

TEST(Store, AccountsAreExactAndSharedBetweenPrograms) {
    CTempFolder folder;
    const std::string manifest = WriteSmallTweetings(folder, 10, 10).string();
    CMovieTable first;
    first.Init(manifest);
    CMovieTable second; // another program on the same data, started before any account exists
    second.Init(manifest);

    EXPECT_EQ(first.InsertUser("", "password"), NO_USER);
    EXPECT_EQ(first.InsertUser("erin", ""), NO_USER);
    const long erin = first.InsertUser("erin", "correct horse");
    EXPECT_GT(erin, 10); // above every user id of the data files
    EXPECT_EQ(first.InsertUser("erin", "other"), NO_USER);
    EXPECT_EQ(second.InsertUser("erin", "other"), NO_USER);          // taken in the other program too
    const long bigErin = second.InsertUser("Erin", "correct horse"); // case counts
    EXPECT_GT(bigErin, erin);

    EXPECT_EQ(first.GetUserID("erin", "correct horse"), erin);
    EXPECT_EQ(second.GetUserID("erin", "correct horse"), erin); // registered by the other program
    EXPECT_EQ(first.GetUserID("Erin", "correct horse"), bigErin);
    EXPECT_EQ(first.GetUserID("erin", "Correct horse"), NO_USER);
    EXPECT_EQ(first.GetUserID("erin ", "correct horse"), erin); // blanks at the ends do not count
    EXPECT_EQ(first.GetUserID("erin", ""), NO_USER);
    EXPECT_EQ(first.GetUserID("nobody", "correct horse"), NO_USER);
    EXPECT_EQ(first.GetUserID("1", ""), NO_USER); // data users have no password

    // A rating entered in one program is refused as a duplicate in the other, not overwritten.
    second.SetNewRating(MovieId(0), erin, 5);
    const Thrown twice = CatchEngineError([&] { first.SetNewRating(MovieId(0), erin, 1); });
    EXPECT_NE(twice.text.find("already rated"), std::string::npos) << twice.text;
}

TEST(Store, NoPasswordIsKeptInClear) {
    CTempFolder folder;
    const std::string manifest = WriteSmallTweetings(folder, 10, 10).string();
    const std::string password = "Zebra-Quartz-7731";
    {
        CMovieTable table;
        table.Init(manifest);
        table.InitMatrices();
        ASSERT_NE(table.InsertUser("frank", password), NO_USER);
        EXPECT_EQ(table.GetUserID("frank", password + "x"), NO_USER);
        // While the program runs (write-ahead log not yet merged) and after it ends.
        EXPECT_EQ(EveryByteIn(folder.Path()).find(password), std::string::npos);
    }
    EXPECT_EQ(EveryByteIn(folder.Path()).find(password), std::string::npos);
    EXPECT_NE(EveryByteIn(folder.Path()).find("$argon2id$"), std::string::npos);
    // The hashes are for the owner's eyes only.
    const auto permissions = std::filesystem::status(folder.Path() / "quillory.sqlite").permissions();
    EXPECT_EQ(permissions & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
              std::filesystem::perms::none);
}

TEST(Store, RefusesAFileThatIsNotOursAndLeavesItUntouched) {
    CTempFolder folder;
    const std::string manifest = WriteSmallTweetings(folder, 5, 5).string();
    const std::filesystem::path storePath = folder.Path() / "quillory.sqlite";

    // Another program's SQLite database.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(storePath.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(text); INSERT INTO notes VALUES('keep me');", nullptr, nullptr,
                               nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    const std::string before = folder.Read("quillory.sqlite");
    Thrown thrown = CatchEngineError([&] { CMovieTable().Init(manifest); });
    EXPECT_EQ(thrown.caption, kStoreErrorCaption);
    EXPECT_NE(thrown.text.find(storePath.string()), std::string::npos) << thrown.text;
    EXPECT_NE(thrown.text.find("not a Quillory store"), std::string::npos) << thrown.text;
    EXPECT_EQ(folder.Read("quillory.sqlite"), before);
    EXPECT_FALSE(std::filesystem::exists(storePath.string() + "-wal"));

    // Not a database at all.
    folder.Write("quillory.sqlite", std::string(4096, 'x'));
    thrown = CatchEngineError([&] { CMovieTable().Init(manifest); });
    EXPECT_NE(thrown.text.find("not a Quillory store"), std::string::npos) << thrown.text;
    EXPECT_EQ(folder.Read("quillory.sqlite"), std::string(4096, 'x'));

    // Ours, but from a newer version.
    std::filesystem::remove(storePath);
    CMovieTable().Init(manifest);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(storePath.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    thrown = CatchEngineError([&] { CMovieTable().Init(manifest); });
    EXPECT_NE(thrown.text.find("newer version"), std::string::npos) << thrown.text;
}

TEST(Store, AStoreThatCannotBeOpenedIsNamedForWhatItIs) {
    CTempFolder folder;
    const std::filesystem::path path = folder.Path() / "store.sqlite";

    // A folder where the store should be.
    std::filesystem::create_directory(path);
    Thrown thrown = CatchEngineError([&] { store::CSqliteStore store(path, 50); });
    EXPECT_EQ(thrown.caption, kStoreErrorCaption);
    EXPECT_NE(thrown.text.find(path.string() + " is not a file"), std::string::npos) << thrown.text;
    std::filesystem::remove(path);

    // Our store, locked by another program: busy, not someone else's file.
    { store::CSqliteStore created(path, 50); }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other,
                           "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; INSERT INTO ratings VALUES(1,1,1,0,1);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    thrown = CatchEngineError([&] { store::CSqliteStore store(path, 50); });
    EXPECT_EQ(thrown.text.find("not a Quillory store"), std::string::npos) << thrown.text;
    EXPECT_NE(thrown.text.find("Another program"), std::string::npos) << thrown.text;
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    // A folder this user may not write to: the reason, not "not ours". Root may write anywhere, so only others see it.
    if (::geteuid() != 0) {
        const std::filesystem::path locked = folder.Path() / "locked";
        std::filesystem::create_directory(locked);
        { store::CSqliteStore created(locked / "store.sqlite", 50); }
        std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        thrown = CatchEngineError([&] { store::CSqliteStore store(locked / "new.sqlite", 50); });
        EXPECT_NE(thrown.text.find("Cannot create the store"), std::string::npos) << thrown.text;
        thrown = CatchEngineError([&] { store::CSqliteStore store(locked / "store.sqlite", 50); });
        EXPECT_EQ(thrown.text.find("not a Quillory store"), std::string::npos) << thrown.text;
        EXPECT_NE(thrown.text.find("must be writable"), std::string::npos) << thrown.text;
        std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    }
}

TEST(Store, ProgramsStartingAtOnceOnANewStoreAllOpenIt) {
    CTempFolder folder;
    constexpr int kPrograms = 6;
    constexpr int kStores = 60;
    std::vector<pid_t> children;
    for (int p = 0; p < kPrograms; ++p) {
        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            // Every program walks through the same new stores, so that they meet while each one is being made.
            int failures = 0;
            for (int s = 0; s < kStores; ++s) {
                try {
                    store::CSqliteStore store(folder.Path() / ("store" + std::to_string(s) + ".sqlite"));
                    store.InsertRating({p + 1, s + 1, 3, 0});
                } catch (const CMException& e) {
                    std::fprintf(stderr, "%s\n", e.GetText().c_str());
                    ++failures;
                }
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a program could not open a new store";
    }
    for (int s = 0; s < kStores; ++s) {
        store::CSqliteStore store(folder.Path() / ("store" + std::to_string(s) + ".sqlite"));
        EXPECT_EQ(store.LoadNewRatings().size(), static_cast<std::size_t>(kPrograms)) << s;
    }
}

TEST(Store, AWriteThatCannotBeMadeIsAnError) {
    CTempFolder folder;
    const std::filesystem::path path = folder.Path() / "store.sqlite";
    store::CSqliteStore store(path, 50);
    ASSERT_TRUE(store.InsertRating({7, 42, 3, 0}));
    EXPECT_FALSE(store.InsertRating({7, 42, 5, 0})); // already there: refused, not overwritten

    // Another program holds the write lock for longer than we wait.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    Thrown thrown = CatchEngineError([&] { store.InsertRating({7, 43, 4, 0}); });
    EXPECT_EQ(thrown.caption, kStoreErrorCaption);
    EXPECT_NE(thrown.text.find(path.string()), std::string::npos) << thrown.text;
    thrown = CatchEngineError([&] { store.InsertUser("gina", "gina", "$argon2id$fake"); });
    EXPECT_NE(thrown.text.find("Another program"), std::string::npos) << thrown.text;
    thrown = CatchEngineError([&] { store.SetNotInterested(7, 44, true); });
    EXPECT_EQ(thrown.caption, kStoreErrorCaption);
    EXPECT_NE(thrown.text.find("Another program"), std::string::npos) << thrown.text;
    thrown = CatchEngineError([&] { store.SetNotInterested(7, 44, true); });
    EXPECT_EQ(thrown.caption, kStoreErrorCaption);
    EXPECT_NE(thrown.text.find("Another program"), std::string::npos) << thrown.text;
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    // Once the lock is gone, the writes go through, and the refused ones left nothing behind.
    EXPECT_EQ(store.LoadNewRatings().size(), 1U);
    EXPECT_TRUE(store.InsertRating({7, 43, 4, 0}));
    EXPECT_EQ(store.InsertUser("gina", "gina", "$argon2id$fake").value_or(-1), 2000000000); // the accounts' range
    EXPECT_EQ(store.InsertUser("hal", "hal", "$argon2id$fake").value_or(-1), 2000000001);
    EXPECT_EQ(store.InsertUser("Gina", "gina", "$argon2id$fake"), std::nullopt); // the key is taken
    EXPECT_EQ(store.InsertUser("ivy", "ivy", "$argon2id$fake").value_or(-1), 2000000002);
    EXPECT_EQ(store.LoadNewRatings().size(), 1U); // the one added since
    EXPECT_EQ(store.LoadNewUsers().size(), 3U);
    EXPECT_TRUE(store.LoadNotInterestedChanges().empty());
    EXPECT_TRUE(store.SetNotInterested(7, 44, true));
    EXPECT_EQ(store.LoadNotInterestedChanges().size(), 1U);
}

TEST(Store, AStoreMovedReplacedOrDeletedUnderARunningProgramTakesNoMoreWrites) {
    const std::vector<std::function<void(const std::string&)>> changes = {
        [](const std::string& store) { std::filesystem::remove(store); },
        [](const std::string& store) { std::filesystem::rename(store, store + ".old"); },
        [](const std::string& store) {
            std::filesystem::copy_file(store, store + ".new");
            std::filesystem::rename(store + ".new", store);
        },
    };
    for (std::size_t k = 0; k < changes.size(); ++k) {
        CTempFolder folder;
        const std::string manifest = WriteSmallTweetings(folder, 10, 10).string();
        const std::string path = (folder.Path() / "quillory.sqlite").string();
        {
            CMovieTable table;
            table.Init(manifest);
            const long id = table.InsertUser("rita", "pw-rita");
            changes[k](path);
            for (const Thrown& thrown : {CatchEngineError([&] { table.SetNewRating(MovieId(1), id, 2); }),
                                         CatchEngineError([&] { table.InsertUser("sam", "pw-sam"); }),
                                         CatchEngineError([&] { table.SetNotInterested(MovieId(2), id, true); })}) {
                EXPECT_EQ(thrown.caption, kStoreErrorCaption) << k;
                EXPECT_NE(thrown.text.find(" in the store " + path + " failed: "), std::string::npos) << thrown.text;
                EXPECT_NE(thrown.text.find("The store was moved, replaced or deleted while Quillory ran"),
                          std::string::npos)
                    << thrown.text;
            }
            EXPECT_EQ(table.GetRating(MovieId(1), id, ""), 0) << k; // never taken as made
            EXPECT_TRUE(table.GetNotInterested(id).empty()) << k;
        }
        CMovieTable restarted; // opens what is at the path now, and writes there
        restarted.Init(manifest);
        EXPECT_EQ(restarted.GetUserID("sam", "pw-sam"), NO_USER) << k;
        EXPECT_NE(restarted.InsertUser("tess", "pw-tess"), NO_USER) << k;
    }
}

TEST(Store, AStoreOfTheFirstSchemaIsUpgradedInPlaceAndItsAccountsStillLogIn) {
    CTempFolder folder;
    const std::string manifest = WriteSmallTweetings(folder, 10, 10).string();
    const int unrated = UnratedBy(3);
    // A store as the first version wrote it: accounts numbered just above the data's users (10), names compared
    // byte for byte, so " kim" and "kim" are two accounts.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((folder.Path() / "quillory.sqlite").c_str(), &db), SQLITE_OK);
        const std::string sql =
            "CREATE TABLE users(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, hash TEXT NOT NULL,"
            " created INTEGER NOT NULL);"
            "CREATE TABLE ratings(user INTEGER NOT NULL, movie INTEGER NOT NULL,"
            " stars INTEGER NOT NULL CHECK(stars BETWEEN 1 AND 5), timestamp INTEGER NOT NULL,"
            " PRIMARY KEY(user, movie)) WITHOUT ROWID;"
            "PRAGMA application_id=1363956313; PRAGMA user_version=1;"
            "INSERT INTO users VALUES(11, 'kim', '" +
            store::HashPassword("pw-kim") + "', 0), (12, ' kim', '" + store::HashPassword("pw-other-kim") +
            "', 0);"
            "INSERT INTO ratings VALUES(11, 1000001, 4, 0), (11, 1000002, 5, 0), (3, " +
            std::to_string(MovieId(unrated)) + ", 2, 0);";
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    CMovieTable table;
    table.Init(manifest);
    EXPECT_EQ(table.GetUserID("kim", "pw-kim"), 2000000000);
    EXPECT_EQ(table.GetUserID(" kim", "pw-other-kim"), 2000000001); // by its exact name, as before
    EXPECT_EQ(table.GetUserID("kim ", "pw-kim"), 2000000000);       // the first keeps the compared name
    EXPECT_EQ(table.GetRating(MovieId(0), 2000000000, ""), 4);
    EXPECT_EQ(table.GetRating(MovieId(1), 2000000000, ""), 5);
    EXPECT_EQ(table.GetRating(MovieId(unrated), 3, ""), 2); // a data user's rating stays his
    double average = 0;
    long count = 0;
    table.GetInfo(11, average, count); // the old number is free of the account's ratings
    EXPECT_EQ(count, 0);
    EXPECT_EQ(table.InsertUser("KIM", "pw"), 2000000002);
    EXPECT_EQ(table.InsertUser("kim\xC2\xA0", "pw"), NO_USER);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder.Path() / "quillory.sqlite").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* version = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &version, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(version), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(version, 0), 3); // and on through every later step
    sqlite3_finalize(version);
    sqlite3_close(db);
}

} // namespace
} // namespace quillory::test
