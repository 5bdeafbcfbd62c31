// The store's contract, the same for an SQLite file and a PostgreSQL server: accounts in their own id range with
// names compared as they look, one winner of a registration race, every program seeing what the others committed
// before it answers, nothing acknowledged lost to a kill, and a store that is not ours, holds impossible rows or
// cannot be written refused at Init by name.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "DataSet.h"
#include "EngineErrors.h"
#include "MovieTable.h"
#include "PasswordHash.h"
#include "QuoteExcerpt.h"
#include "RatingStore.h"
#include "StoreTestSupport.h"

namespace quillory::test {
namespace {

using namespace std::string_literals;

// Writes all of `bytes` to `fd`; false when the pipe broke.
bool WriteAll(int fd, const void* bytes, std::size_t size) {
    const auto* at = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t written = ::write(fd, at, size);
        if (written <= 0) {
            return false;
        }
        at += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool ReadAll(int fd, void* bytes, std::size_t size) {
    auto* at = static_cast<char*>(bytes);
    while (size > 0) {
        const ssize_t got = ::read(fd, at, size);
        if (got <= 0) {
            return false;
        }
        at += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

int ExitCodeOf(pid_t child) {
    int status = 0;
    if (::waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// Runs `programs` programs at once, each in a child process: each runs `prepare` first, and all of them run `race`
// together once every one has prepared. Returns their exit codes in order: what `race` returned, 4 for an exception.
// No test assertions run in a child; its exit code says what it got.
std::vector<int> RunAtOnce(int programs, const std::function<void(int)>& prepare, const std::function<int(int)>& race) {
    std::array<int, 2> ready{};
    std::array<int, 2> go{};
    if (::pipe(ready.data()) != 0 || ::pipe(go.data()) != 0) {
        ADD_FAILURE() << "no pipe";
        return {};
    }
    std::vector<pid_t> children;
    for (int p = 0; p < programs; ++p) {
        const pid_t child = ::fork();
        if (child == -1) {
            ADD_FAILURE() << "no fork";
            break;
        }
        if (child == 0) {
            ::close(ready[0]);
            ::close(go[1]);
            int code = -1;
            try {
                prepare(p);
            } catch (...) {
                code = 4; // still says it is ready, so that the others are not kept waiting
            }
            char byte = 'r';
            WriteAll(ready[1], &byte, 1);
            ::read(go[0], &byte, 1); // returns when the parent closes its end: everybody starts at once
            try {
                code = code < 0 ? race(p) : code;
            } catch (...) {
                code = 4;
            }
            ::_exit(code);
        }
        children.push_back(child);
    }
    ::close(ready[1]);
    ::close(go[0]);
    for (std::size_t p = 0; p < children.size(); ++p) {
        char byte = 0;
        EXPECT_TRUE(ReadAll(ready[0], &byte, 1)) << "a program failed before the start";
    }
    ::close(go[1]);
    ::close(ready[0]);
    std::vector<int> codes;
    for (const pid_t child : children) {
        codes.push_back(ExitCodeOf(child));
    }
    return codes;
}

class StoreContract : public ::testing::TestWithParam<StoreKind> {};

TEST_P(StoreContract, AccountsTakeTheirOwnIdsAndNamesCompareAsTheyLook) {
    CStoreUnderTest store(GetParam());
    CMovieTable table;
    table.Init(store.Manifest());

    // Ids from 2000000000 up, in order, whatever the data's users are.
    EXPECT_EQ(table.InsertUser("alice", "pw-alice"), 2000000000);
    EXPECT_EQ(table.InsertUser("bob", "pw-bob"), 2000000001);

    // Blanks at the ends and Unicode normalisation make no new name, at registration and at login.
    EXPECT_EQ(table.InsertUser(" alice", "other"), NO_USER);
    EXPECT_EQ(table.InsertUser("alice  ", "other"), NO_USER);
    EXPECT_EQ(table.GetUserID("  alice ", "pw-alice"), 2000000000);
    EXPECT_EQ(table.InsertUser("\xC3\x89lodie", "pw-elodie"), 2000000002);         // É as one code point
    EXPECT_EQ(table.InsertUser("E\xCC\x81lodie", "other"), NO_USER);               // E and a combining acute
    EXPECT_EQ(table.GetUserID("E\xCC\x81lodie\xC2\xA0", "pw-elodie"), 2000000002); // and a no-break space
    EXPECT_EQ(table.GetUserID("elodie", "pw-elodie"), NO_USER);                    // but accents and case count
    EXPECT_EQ(table.InsertUser("Alice", "pw-big-alice"), 2000000003);

    // Names no account may take: nothing but blanks, or a control character anywhere.
    for (const std::string& name : {"   "s, "\t"s, "\xC2\xA0"s, "ab\0cd"s, "a\x01z"s, "a\x7Fz"s, "a\xC2\x85z"s,
                                    "a\xE2\x80\xA8z"s, "a\xE2\x80\xA9z"s, "a\nz"s, "\xFF\xFE"s}) {
        EXPECT_EQ(table.InsertUser(name, "password"), NO_USER) << QuoteExcerpt(name);
    }
    EXPECT_EQ(table.InsertUser("ab", "pw-ab"), 2000000004);
    EXPECT_EQ(table.GetUserID("ab\0cd"s, "pw-ab"), NO_USER);
    EXPECT_EQ(table.GetUserID("ab", "pw-ab"), 2000000004);

    // Refusals handed out no id: the next account takes the next number.
    EXPECT_EQ(table.InsertUser("carol", "pw-carol"), 2000000005);
}

TEST_P(StoreContract, BothStoresTakeTheSameNamesAndFindNoneThatIsNotUtf8) {
    CStoreUnderTest store(GetParam(), 5, 5);
    CMovieTable table;
    table.Init(store.Manifest());
    const auto times = [](const std::string& piece, int count) {
        std::string text;
        for (int k = 0; k < count; ++k) {
            text += piece;
        }
        return text;
    };
    struct Case {
        std::string name;
        bool taken;
    };
    const std::vector<Case> cases = {
        {std::string(256, 'a'), true},
        {times("\xF0\x9F\x8E\xAC", 256), true}, // 256 characters of 4 bytes
        {std::string(257, 'b'), false},
        {std::string(255, 'c') + "  ", false}, // blanks count as written
        {std::string(2800, 'd'), false},
        {times("\xF0\x9D\x85\xA0", 100), false}, // 100 characters, and 300 once composed
    };
    for (const Case& c : cases) {
        const long id = table.InsertUser(c.name, "pw");
        EXPECT_EQ(id != NO_USER, c.taken) << c.name.size() << " bytes";
        EXPECT_EQ(table.GetUserID(c.name, "pw"), id) << c.name.size() << " bytes";
    }
    for (const std::string& name : {"\xFF\xFE"s, "caf\xC3"s, "a\xC0\x80z"s, "\xED\xA0\x80"s}) {
        EXPECT_EQ(table.GetUserID(name, "pw"), NO_USER) << QuoteExcerpt(name);
    }
}

TEST_P(StoreContract, DataUsersInTheAccountsRangeAreRefusedAtStart) {
    CStoreUnderTest store(GetParam(), 5, 3);
    store.Folder().Write("ratings.dat", "1::1000001::8::1365000000\n2000000000::1000002::7::1365000001\n");
    const Thrown thrown = CatchEngineError([&] { CMovieTable().Init(store.Manifest()); });
    EXPECT_EQ(thrown.caption, kDataErrorCaption);
    EXPECT_NE(thrown.text.find("ratings.dat holds user id 2000000000"), std::string::npos) << thrown.text;

    // One below the range is a data user like any other.
    store.Folder().Write("ratings.dat", "1::1000001::8::1365000000\n1999999999::1000002::7::1365000001\n");
    CMovieTable table;
    table.Init(store.Manifest());
    EXPECT_EQ(table.GetRating(MovieId(1), 1999999999, ""), 4); // 7 of 10 is 4 stars
}

TEST_P(StoreContract, OneNameRegisteredByManyProgramsAtOnceSucceedsOnce) {
    CStoreUnderTest store(GetParam());
    CMovieTable().Init(store.Manifest()); // the store exists before the race
    std::unique_ptr<CMovieTable> table;
    const std::vector<int> codes = RunAtOnce(
        6,
        [&](int) {
            table = std::make_unique<CMovieTable>();
            table->Init(store.Manifest());
        },
        [&](int p) {
            const long id = table->InsertUser(p % 2 == 0 ? "racer" : " racer ", "pw-" + std::to_string(p));
            return id == NO_USER ? 1 : id == 2000000000 ? 0 : 3;
        });
    int winners = 0;
    for (const int code : codes) {
        EXPECT_TRUE(code == 0 || code == 1) << "exit code " << code;
        winners += code == 0 ? 1 : 0;
    }
    EXPECT_EQ(winners, 1);
    CMovieTable after;
    after.Init(store.Manifest());
    EXPECT_EQ(after.InsertUser("after the race", "pw"), 2000000001);
}

TEST_P(StoreContract, TwoEnginesInOneProgramSeeEachOthersWrites) {
    CStoreUnderTest store(GetParam());
    CMovieTable first;
    first.Init(store.Manifest());
    first.InitMatrices();
    CMovieTable second;
    second.Init(store.Manifest());
    second.InitMatrices();

    const long gail = first.InsertUser("gail", "pw-gail");
    ASSERT_EQ(gail, 2000000000);
    EXPECT_EQ(second.GetUserID("gail", "pw-gail"), gail);
    EXPECT_EQ(second.InsertUser("gail", "other"), NO_USER);

    first.SetNewRating(MovieId(0), gail, 4);
    second.SetNewRating(MovieId(1), gail, 2);
    for (CMovieTable* table : {&first, &second}) {
        EXPECT_EQ(table->GetRating(MovieId(0), gail, ""), 4);
        EXPECT_EQ(table->GetRating(MovieId(1), gail, ""), 2);
        double average = 0;
        long count = 0;
        table->GetInfo(gail, average, count);
        EXPECT_EQ(count, 2);
        EXPECT_DOUBLE_EQ(average, 3.0);
    }
    const Thrown twice = CatchEngineError([&] { first.SetNewRating(MovieId(1), gail, 5); });
    EXPECT_NE(twice.text.find("already rated"), std::string::npos) << twice.text;

    // A data user's rating entered in one engine changes his prediction in the other.
    for (int m = 2; m < 17; ++m) {
        second.SetNewRating(MovieId(m), gail, m % 5 + 1);
    }
    first.SetCurrentUser(gail);
    second.SetCurrentUser(gail);
    EXPECT_TRUE(first.CanPredict());
    for (int m = 20; m < 25; ++m) {
        EXPECT_NEAR(first.GetPredictedRating(MovieId(m), gail), second.GetPredictedRating(MovieId(m), gail), 1e-6);
    }
}

// What the writing program reports to the reading one through a pipe.
struct WriterReport {
    long id = NO_USER;
    std::array<double, 5> predictions{};
};

TEST_P(StoreContract, TwoProgramsShareOneStoreAndAKilledWriterLosesNothing) {
    CStoreUnderTest store(GetParam());
    CMovieTable reader; // started before the writer exists, and never restarted
    reader.Init(store.Manifest());
    reader.InitMatrices();

    std::array<int, 2> report{};
    ASSERT_EQ(::pipe(report.data()), 0);
    const pid_t writer = ::fork();
    ASSERT_NE(writer, -1);
    if (writer == 0) {
        try {
            ::close(report[0]);
            CMovieTable table;
            table.Init(store.Manifest());
            table.InitMatrices();
            WriterReport done;
            done.id = table.InsertUser("dana", "pw-dana");
            for (int m = 0; m < 15; ++m) {
                table.SetNewRating(MovieId(m), done.id, m % 5 + 1);
            }
            table.SetCurrentUser(done.id);
            table.SetRefresh(true);
            for (int k = 0; k < 5; ++k) {
                done.predictions[static_cast<std::size_t>(k)] = table.GetPredictedRating(MovieId(20 + k), done.id);
            }
            WriteAll(report[1], &done, sizeof done);
            ::raise(SIGKILL); // right after the acknowledged writes: nothing may be lost
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(4);
    }
    ::close(report[1]);
    WriterReport done;
    const bool reported = ReadAll(report[0], &done, sizeof done);
    ::close(report[0]);
    EXPECT_EQ(ExitCodeOf(writer), 100 + SIGKILL);
    ASSERT_TRUE(reported) << "the writer failed before its report";
    ASSERT_EQ(done.id, 2000000000);

    EXPECT_EQ(reader.GetUserID("dana", "pw-dana"), done.id);
    for (int m = 0; m < 15; ++m) {
        EXPECT_EQ(reader.GetRating(MovieId(m), done.id, ""), m % 5 + 1) << m;
    }
    double average = 0;
    long count = 0;
    reader.GetInfo(done.id, average, count);
    EXPECT_EQ(count, 15);
    EXPECT_DOUBLE_EQ(average, 3.0);
    reader.SetCurrentUser(done.id);
    EXPECT_TRUE(reader.CanPredict());
    for (int k = 0; k < 5; ++k) {
        EXPECT_NEAR(reader.GetPredictedRating(MovieId(20 + k), done.id), done.predictions[static_cast<std::size_t>(k)],
                    1e-6)
            << k;
    }
    const Thrown twice = CatchEngineError([&] { reader.SetNewRating(MovieId(3), done.id, 1); });
    EXPECT_NE(twice.text.find("already rated"), std::string::npos) << twice.text;
    EXPECT_EQ(reader.InsertUser("dana", "other"), NO_USER);
}

TEST_P(StoreContract, AStoreThatIsNotOursOrNewerIsRefusedByName) {
    {
        CStoreUnderTest store(GetParam());
        store.Execute("CREATE TABLE notes(line text); INSERT INTO notes VALUES('keep me');");
        const Thrown thrown = CatchEngineError([&] { CMovieTable().Init(store.Manifest()); });
        EXPECT_EQ(thrown.caption, kStoreErrorCaption);
        EXPECT_NE(thrown.text.find(store.Name()), std::string::npos) << thrown.text;
        EXPECT_NE(thrown.text.find("is not a Quillory store"), std::string::npos) << thrown.text;
        store.Execute("DELETE FROM notes WHERE line = 'keep me'"); // still there, and still theirs
    }
    {
        CStoreUnderTest store(GetParam());
        CMovieTable().Init(store.Manifest());
        store.Execute(GetParam() == StoreKind::Sqlite ? "PRAGMA user_version=99"
                                                      : "UPDATE quillory_meta SET schema_version = 99");
        const Thrown thrown = CatchEngineError([&] { CMovieTable().Init(store.Manifest()); });
        EXPECT_NE(thrown.text.find(store.Name()), std::string::npos) << thrown.text;
        EXPECT_NE(thrown.text.find("newer version of Quillory (schema 99)"), std::string::npos) << thrown.text;
    }
}

TEST_P(StoreContract, RowsNoStoreOfOursCanHoldRefuseTheStore) {
    const bool sqlite = GetParam() == StoreKind::Sqlite;
    struct Case {
        std::string forge;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {sqlite ? "PRAGMA ignore_check_constraints=ON; INSERT INTO ratings VALUES(7, 1000001, 9, 0, 1)"
                : "ALTER TABLE quillory_ratings DROP CONSTRAINT quillory_ratings_stars_check;"
                  "INSERT INTO quillory_ratings VALUES(7, 1000001, 9, 0, 1)",
         "a rating row (user 7, movie 1000001) holds 9 stars"},
        {sqlite ? "INSERT INTO ratings VALUES(7, 4294967297, 3, 0, 1)"
                : "ALTER TABLE quillory_ratings ALTER COLUMN movie TYPE bigint;"
                  "INSERT INTO quillory_ratings VALUES(7, 4294967297, 3, 0, 1)",
         "a rating row holds user 7 and movie 4294967297"},
        {sqlite ? "INSERT INTO users(id, name, hash, created) VALUES(4294967296, 'x', 'h', 0)"
                : "ALTER TABLE quillory_users ALTER COLUMN id TYPE bigint;"
                  "INSERT INTO quillory_users(id, name, hash, created) VALUES(4294967296, 'x', 'h', 0)",
         "an account holds the id 4294967296"},
    };
    for (const Case& c : cases) {
        CStoreUnderTest store(GetParam(), 5, 5);
        CMovieTable().Init(store.Manifest());
        store.Execute(c.forge);
        const Thrown thrown = CatchEngineError([&] { CMovieTable().Init(store.Manifest()); });
        EXPECT_EQ(thrown.caption, kStoreErrorCaption);
        EXPECT_NE(thrown.text.find("The store " + store.Name()), std::string::npos) << thrown.text;
        EXPECT_NE(thrown.text.find("is not a Quillory store as it stands: " + c.expected), std::string::npos)
            << thrown.text;
    }
}

TEST_P(StoreContract, NotInterestedRowsNoStoreOfOursCanHoldRefuseTheStore) {
    const bool sqlite = GetParam() == StoreKind::Sqlite;
    struct Case {
        std::string forge;
        std::string expected;
    };
    std::vector<Case> cases = {
        {sqlite ? "INSERT INTO not_interested VALUES(7, 4294967297, 1, 1)"
                : "ALTER TABLE quillory_not_interested ALTER COLUMN movie TYPE bigint;"
                  "INSERT INTO quillory_not_interested VALUES(7, 4294967297, true, 1)",
         "a not-interested row holds user 7 and movie 4294967297"},
    };
    if (sqlite) { // the server's column holds nothing but true and false
        cases.push_back({"PRAGMA ignore_check_constraints=ON; INSERT INTO not_interested VALUES(7, 1000001, 2, 1)",
                         "a not-interested row (user 7, movie 1000001) holds the mark 2"});
    }
    for (const Case& c : cases) {
        CStoreUnderTest store(GetParam(), 5, 5);
        store.Open();
        store.Execute(c.forge);
        const Thrown thrown = CatchEngineError([&] { store.Open()->LoadNotInterestedChanges(); });
        EXPECT_EQ(thrown.caption, kStoreErrorCaption);
        EXPECT_NE(thrown.text.find("The store " + store.Name()), std::string::npos) << thrown.text;
        EXPECT_NE(thrown.text.find("is not a Quillory store as it stands: " + c.expected), std::string::npos)
            << thrown.text;
    }
}

// A store that cannot be written is still the user's store: it is read as any other, he logs in and sees his
// ratings, and every write fails with a message that names the store and says it is read-only. Once it can be
// written again it holds what it held. A read-only file or folder is made real by running the case as an ordinary
// user (root may write anything).
TEST_P(StoreContract, AStoreThatCannotBeWrittenIsReadAndRefusesEveryWrite) {
    namespace fs = std::filesystem;
    struct Case {
        const char* name;
        std::function<void(const CStoreUnderTest&)> lock, unlock;
    };
    const bool sqlite = GetParam() == StoreKind::Sqlite;
    const auto file = [](const CStoreUnderTest& store) { return store.Folder().Path() / "quillory.sqlite"; };
    const std::vector<Case> cases =
        sqlite ? std::vector<Case>{{"a read-only file",
                                    [&](const CStoreUnderTest& store) {
                                        fs::permissions(file(store), fs::perms::owner_read);
                                    },
                                    [&](const CStoreUnderTest& store) {
                                        fs::permissions(file(store), fs::perms::owner_read | fs::perms::owner_write);
                                    }},
                                   {"a read-only folder",
                                    [](const CStoreUnderTest& store) {
                                        fs::permissions(store.Folder().Path(),
                                                        fs::perms::owner_read | fs::perms::owner_exec);
                                    },
                                    [](const CStoreUnderTest& store) {
                                        fs::permissions(store.Folder().Path(), fs::perms::owner_all);
                                    }}}
               : std::vector<Case>{{"a database set read-only",
                                    [](const CStoreUnderTest& store) {
                                        store.Execute("ALTER DATABASE " + store.Name() +
                                                      " SET default_transaction_read_only = on");
                                    },
                                    [](const CStoreUnderTest& store) {
                                        store.Execute("BEGIN READ WRITE; ALTER DATABASE " + store.Name() +
                                                      " RESET default_transaction_read_only; COMMIT");
                                    }}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CStoreUnderTest store(GetParam(), 5, 5);
        const auto readOnlyRound = [&] {
            long ann = NO_USER;
            {
                CMovieTable table;
                table.Init(store.Manifest());
                ann = table.InsertUser("ann", "pw-ann");
                ASSERT_NE(ann, NO_USER);
                table.SetNewRating(1000001, ann, 4);
            }
            c.lock(store);
            {
                CMovieTable table;
                table.Init(store.Manifest());
                EXPECT_EQ(table.GetUserID("ann", "pw-ann"), ann);
                double average = 0;
                long count = 0;
                table.GetInfo(ann, average, count);
                EXPECT_EQ(count, 1);
                const std::string refused = "the store " + store.Name();
                // Through the engine, and each of the store's own writes, opened as the engine opens it.
                const std::unique_ptr<store::CRatingStore> own = store.Open();
                EXPECT_NE(own->WhyReadOnly(), "");
                for (const auto& write : std::initializer_list<std::function<void()>>{
                         [&] { table.InsertUser("bob", "pw-bob"); }, [&] { table.SetNewRating(1000002, ann, 3); },
                         [&] { own->InsertUser("bob", "bob", "$argon2id$fake"); },
                         [&] {
                             own->InsertRating({ann, 1000002, 3, 0});
                         },
                         [&] { own->SetNotInterested(ann, 1000003, true); }}) {
                    const Thrown thrown = CatchEngineError(write);
                    EXPECT_EQ(thrown.caption, kStoreErrorCaption);
                    EXPECT_NE(thrown.text.find(refused), std::string::npos) << thrown.text;
                    EXPECT_NE(thrown.text.find(" is read-only ("), std::string::npos) << thrown.text;
                }
            }
            c.unlock(store);
            CMovieTable table;
            table.Init(store.Manifest());
            double average = 0;
            long count = 0;
            table.GetInfo(ann, average, count);
            EXPECT_EQ(count, 1);
            EXPECT_EQ(table.GetUserID("bob", "pw-bob"), NO_USER);
            EXPECT_NE(table.InsertUser("bob", "pw-bob"), NO_USER);
        };
        if (!sqlite) {
            readOnlyRound();
        } else if (!RunAsOrdinaryUser(store.Folder().Path(), readOnlyRound)) {
            GTEST_SKIP() << "The build folder is closed to other users: the case cannot run as one.";
        }
    }
}

TEST_P(StoreContract, TheLookSeesOthersWritesAndNewRatingsAreReadOnce) {
    CStoreUnderTest store(GetParam(), 5, 5);
    const std::unique_ptr<store::CRatingStore> reader = store.Open();
    const std::unique_ptr<store::CRatingStore> writer = store.Open();
    EXPECT_TRUE(reader->ChangedSinceLastLook()); // the first look always answers yes
    EXPECT_TRUE(reader->LoadNewRatings().empty());
    EXPECT_FALSE(reader->ChangedSinceLastLook());

    ASSERT_TRUE(writer->InsertRating({7, 1000001, 4, 100}));
    ASSERT_TRUE(writer->InsertRating({8, 1000002, 2, 200}));
    EXPECT_FALSE(writer->InsertRating({7, 1000001, 5, 300})); // refused: the first one stays
    EXPECT_TRUE(reader->ChangedSinceLastLook());
    const std::vector<store::CRatingStore::Rating> fresh = reader->LoadNewRatings();
    ASSERT_EQ(fresh.size(), 2U);
    EXPECT_EQ(fresh[0].user, 7);
    EXPECT_EQ(fresh[0].movie, 1000001);
    EXPECT_EQ(fresh[0].stars, 4);
    EXPECT_EQ(fresh[0].timestamp, 100);
    EXPECT_EQ(fresh[1].user, 8);
    EXPECT_EQ(fresh[1].stars, 2);
    EXPECT_FALSE(reader->ChangedSinceLastLook());
    EXPECT_TRUE(reader->LoadNewRatings().empty());

    // A program's own writes are no change to it; its new rating comes back once.
    ASSERT_TRUE(reader->InsertRating({9, 1000003, 3, 0}));
    EXPECT_FALSE(reader->ChangedSinceLastLook());
    EXPECT_EQ(reader->LoadNewRatings().size(), 1U);
    EXPECT_TRUE(reader->LoadNewRatings().empty());
    EXPECT_TRUE(writer->ChangedSinceLastLook());
    EXPECT_EQ(writer->LoadNewRatings().size(), 3U); // its first call: every rating

    // Accounts the same way: every one at the first call, then only those added since, in id order.
    const long first = writer->InsertUser("ann", "ann", "$argon2id$fake").value_or(-1);
    const long second = writer->InsertUser("bob", "bob", "$argon2id$fake").value_or(-1);
    ASSERT_EQ(second, first + 1);
    EXPECT_TRUE(reader->ChangedSinceLastLook());
    std::vector<store::CRatingStore::User> accounts = reader->LoadNewUsers();
    ASSERT_EQ(accounts.size(), 2U);
    EXPECT_EQ(accounts[0].id, first);
    EXPECT_EQ(accounts[0].name, "ann");
    EXPECT_EQ(accounts[1].id, second);
    EXPECT_TRUE(reader->LoadNewUsers().empty());
    const long third = writer->InsertUser("cy", "cy", "$argon2id$fake").value_or(-1);
    accounts = reader->LoadNewUsers();
    ASSERT_EQ(accounts.size(), 1U);
    EXPECT_EQ(accounts[0].id, third);
    EXPECT_EQ(accounts[0].name, "cy");
    EXPECT_EQ(writer->LoadNewUsers().size(), 3U); // its first call: every account
}

// A mark as the store hands it back, for comparing whole lists.
std::string Describe(const store::CRatingStore::NotInterested& mark) {
    return std::to_string(mark.user) + "/" + std::to_string(mark.movie) + (mark.hidden ? " hidden #" : " shown #") +
           std::to_string(mark.sequence);
}

std::vector<std::string> Described(const std::vector<store::CRatingStore::NotInterested>& marks) {
    std::vector<std::string> out;
    for (const store::CRatingStore::NotInterested& mark : marks) {
        out.push_back(Describe(mark));
    }
    return out;
}

std::string Mark(long user, int movie, bool hidden, std::optional<std::int64_t> sequence) {
    return Describe({user, movie, hidden, sequence.value_or(-1)});
}

TEST_P(StoreContract, NotInterestedMarksAreSharedAndEachChangeIsReadOnce) {
    CStoreUnderTest store(GetParam(), 5, 5);
    const std::unique_ptr<store::CRatingStore> reader = store.Open();
    const std::unique_ptr<store::CRatingStore> writer = store.Open();
    EXPECT_TRUE(reader->ChangedSinceLastLook());
    EXPECT_TRUE(reader->LoadNotInterestedChanges().empty());
    EXPECT_FALSE(reader->ChangedSinceLastLook());

    const std::optional<std::int64_t> first = writer->SetNotInterested(7, 1000001, true);
    const std::optional<std::int64_t> second = writer->SetNotInterested(7, 1000002, true);
    ASSERT_TRUE(first && second);
    EXPECT_LT(*first, *second);
    // What already stands writes nothing, and is no change to the others.
    EXPECT_FALSE(writer->SetNotInterested(7, 1000001, true));
    EXPECT_FALSE(writer->SetNotInterested(8, 1000001, false)); // never set: nothing to clear
    EXPECT_TRUE(reader->ChangedSinceLastLook());
    EXPECT_EQ(Described(reader->LoadNotInterestedChanges()),
              (std::vector<std::string>{Mark(7, 1000001, true, first), Mark(7, 1000002, true, second)}));
    EXPECT_FALSE(reader->ChangedSinceLastLook());
    EXPECT_FALSE(writer->SetNotInterested(7, 1000002, true));
    EXPECT_FALSE(reader->ChangedSinceLastLook());
    EXPECT_TRUE(reader->LoadNotInterestedChanges().empty());

    // A mark cleared is seen to go; set again, it comes back with a later number.
    const std::optional<std::int64_t> cleared = writer->SetNotInterested(7, 1000001, false);
    ASSERT_TRUE(cleared);
    EXPECT_GT(*cleared, *second);
    EXPECT_TRUE(reader->ChangedSinceLastLook());
    EXPECT_EQ(Described(reader->LoadNotInterestedChanges()),
              (std::vector<std::string>{Mark(7, 1000001, false, cleared)}));
    const std::optional<std::int64_t> again = writer->SetNotInterested(7, 1000001, true);
    ASSERT_TRUE(again);
    EXPECT_GT(*again, *cleared);
    EXPECT_TRUE(reader->ChangedSinceLastLook());
    EXPECT_EQ(Described(reader->LoadNotInterestedChanges()), (std::vector<std::string>{Mark(7, 1000001, true, again)}));

    // A program's own change is no change to it; it comes back once.
    const std::optional<std::int64_t> own = reader->SetNotInterested(2000000000, 1000003, true);
    ASSERT_TRUE(own);
    EXPECT_FALSE(reader->ChangedSinceLastLook());
    EXPECT_EQ(Described(reader->LoadNotInterestedChanges()),
              (std::vector<std::string>{Mark(2000000000, 1000003, true, own)}));
    EXPECT_TRUE(reader->LoadNotInterestedChanges().empty());
    const std::optional<std::int64_t> shown = reader->SetNotInterested(2000000000, 1000003, false);
    ASSERT_TRUE(shown);

    // A program that opens the store later reads every mark at its first call, the cleared ones too, as they stand.
    EXPECT_EQ(Described(store.Open()->LoadNotInterestedChanges()),
              (std::vector<std::string>{Mark(7, 1000002, true, second), Mark(7, 1000001, true, again),
                                        Mark(2000000000, 1000003, false, shown)}));
    // Ratings go on as before beside them.
    ASSERT_TRUE(writer->InsertRating({7, 1000001, 4, 100}));
    EXPECT_EQ(reader->LoadNewRatings().size(), 1U);
}

TEST_P(StoreContract, AMarkIsCommittedBeforeItReturnsAndAnotherProgramSeesItAtOnce) {
    CStoreUnderTest store(GetParam(), 5, 5);
    const std::unique_ptr<store::CRatingStore> reader = store.Open(); // open before the writer exists
    EXPECT_TRUE(reader->ChangedSinceLastLook());
    EXPECT_TRUE(reader->LoadNotInterestedChanges().empty());
    std::array<int, 2> report{};
    ASSERT_EQ(::pipe(report.data()), 0);
    const pid_t writer = ::fork();
    ASSERT_NE(writer, -1);
    if (writer == 0) {
        try {
            ::close(report[0]);
            const std::unique_ptr<store::CRatingStore> own = store.Open();
            std::array<std::int64_t, 3> sequences{own->SetNotInterested(2000000000, 1000004, true).value_or(-1),
                                                  own->SetNotInterested(2000000000, 1000002, true).value_or(-1),
                                                  own->SetNotInterested(2000000000, 1000004, false).value_or(-1)};
            WriteAll(report[1], sequences.data(), sizeof sequences);
            ::raise(SIGKILL); // right after the acknowledged writes: nothing may be lost
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(4);
    }
    ::close(report[1]);
    std::array<std::int64_t, 3> sequences{};
    const bool reported = ReadAll(report[0], sequences.data(), sizeof sequences);
    ::close(report[0]);
    EXPECT_EQ(ExitCodeOf(writer), 100 + SIGKILL);
    ASSERT_TRUE(reported) << "the writer failed before its report";
    EXPECT_TRUE(reader->ChangedSinceLastLook());
    EXPECT_EQ(Described(reader->LoadNotInterestedChanges()),
              (std::vector<std::string>{Mark(2000000000, 1000002, true, sequences[1]),
                                        Mark(2000000000, 1000004, false, sequences[2])}));
}

// The store as the previous schema left it, written by hand: two accounts (kim and lee, hashes given), two of their
// ratings and one of data user 3, of movie `unrated`.
std::string PreviousSchema(StoreKind kind, int unrated) {
    const std::string rows = "VALUES(2000000000, 'kim', 'kim', '" + store::HashPassword("pw-kim") +
                             "', 0), (2000000001, 'lee', 'lee', '" + store::HashPassword("pw-lee") + "', 0);";
    const std::string ratings = "VALUES(2000000000, " + std::to_string(MovieId(0)) + ", 4, 100, 1), (2000000001, " +
                                std::to_string(MovieId(1)) + ", 5, 200, 2), (3, " + std::to_string(MovieId(unrated)) +
                                ", 2, 300, 3);";
    if (kind == StoreKind::Sqlite) {
        return "CREATE TABLE users(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, hash TEXT NOT NULL,"
               " created INTEGER NOT NULL, name_key TEXT);"
               "CREATE UNIQUE INDEX users_by_name_key ON users(name_key);"
               "CREATE TABLE ratings(user INTEGER NOT NULL, movie INTEGER NOT NULL,"
               " stars INTEGER NOT NULL CHECK(stars BETWEEN 1 AND 5), timestamp INTEGER NOT NULL, seq INTEGER,"
               " PRIMARY KEY(user, movie)) WITHOUT ROWID;"
               "CREATE INDEX ratings_by_seq ON ratings(seq);"
               "PRAGMA application_id=1363956313; PRAGMA user_version=2;"
               "INSERT INTO users(id, name, name_key, hash, created) " +
               rows + "INSERT INTO ratings " + ratings;
    }
    return "CREATE TABLE quillory_meta(id integer PRIMARY KEY CHECK (id = 1), schema_version integer NOT NULL,"
           " changes bigint NOT NULL);"
           "CREATE TABLE quillory_users(id integer PRIMARY KEY, name text NOT NULL UNIQUE, name_key text UNIQUE,"
           " hash text NOT NULL, created bigint NOT NULL);"
           "CREATE TABLE quillory_ratings(user_id integer NOT NULL, movie integer NOT NULL,"
           " stars smallint NOT NULL CHECK (stars BETWEEN 1 AND 5), ts bigint NOT NULL, seq bigint NOT NULL,"
           " PRIMARY KEY (user_id, movie));"
           "CREATE INDEX quillory_ratings_by_seq ON quillory_ratings(seq);"
           "INSERT INTO quillory_meta(id, schema_version, changes) VALUES (1, 1, 5);"
           "INSERT INTO quillory_users(id, name, name_key, hash, created) " +
           rows + "INSERT INTO quillory_ratings " + ratings;
}

TEST_P(StoreContract, AStoreOfThePreviousSchemaIsUpgradedInPlaceOnceWithNothingLost) {
    CStoreUnderTest store(GetParam());
    int unrated = 0;
    while (SmallTweetingsRating(3, unrated) >= 0) {
        ++unrated;
    }
    store.Execute(PreviousSchema(GetParam(), unrated));
    const bool sqlite = GetParam() == StoreKind::Sqlite;
    const std::string version = sqlite ? "PRAGMA user_version" : "SELECT schema_version FROM quillory_meta";
    ASSERT_EQ(store.Query(version), sqlite ? "2" : "1");
    if (!sqlite) {
        // On a database set read-only the upgrade cannot be made: the start stops and says why, and nothing changes.
        store.Execute("ALTER DATABASE " + store.Name() + " SET default_transaction_read_only = on");
        const Thrown thrown = CatchEngineError([&] { CMovieTable().Init(store.Manifest()); });
        store.Execute("BEGIN READ WRITE; ALTER DATABASE " + store.Name() +
                      " RESET default_transaction_read_only; COMMIT");
        EXPECT_EQ(thrown.caption, kStoreErrorCaption);
        EXPECT_NE(thrown.text.find(") is of an earlier version of Quillory (schema 1) and must be upgraded before it "
                                   "can be read, which failed: "),
                  std::string::npos)
            << thrown.text;
        EXPECT_NE(thrown.text.find("read-only transaction"), std::string::npos) << thrown.text;
        EXPECT_EQ(store.Query(version), "1");
    }

    // Several programs meet the old store at once: one upgrades it, every one opens it.
    std::unique_ptr<store::CRatingStore> opened;
    const std::vector<int> codes = RunAtOnce(
        5, [](int) {},
        [&](int) {
            opened = store.Open();
            return 0;
        });
    EXPECT_EQ(codes, std::vector<int>(5, 0));
    EXPECT_EQ(store.Query(version), sqlite ? "3" : "2");

    CMovieTable table;
    table.Init(store.Manifest());
    EXPECT_EQ(table.GetUserID("kim", "pw-kim"), 2000000000);
    EXPECT_EQ(table.GetUserID("lee", "pw-lee"), 2000000001);
    EXPECT_EQ(table.GetRating(MovieId(0), 2000000000, ""), 4);
    EXPECT_EQ(table.GetRating(MovieId(1), 2000000001, ""), 5);
    EXPECT_EQ(table.GetRating(MovieId(unrated), 3, ""), 2);
    EXPECT_EQ(table.InsertUser("max", "pw-max"), 2000000002);

    const std::unique_ptr<store::CRatingStore> reopened = store.Open();
    EXPECT_EQ(reopened->LoadNewRatings().size(), 3U);
    EXPECT_EQ(reopened->LoadNewUsers().size(), 3U);
    EXPECT_TRUE(reopened->LoadNotInterestedChanges().empty());
    const std::optional<std::int64_t> mark = reopened->SetNotInterested(2000000001, static_cast<int>(MovieId(2)), true);
    ASSERT_TRUE(mark);
    // New ratings are numbered after the old ones: a program that read those reads only the new one.
    ASSERT_TRUE(store.Open()->InsertRating({2000000001, static_cast<int>(MovieId(3)), 1, 400}));
    const std::vector<store::CRatingStore::Rating> fresh = reopened->LoadNewRatings();
    ASSERT_EQ(fresh.size(), 1U);
    EXPECT_EQ(fresh[0].timestamp, 400);
    EXPECT_EQ(Described(store.Open()->LoadNotInterestedChanges()),
              (std::vector<std::string>{Mark(2000000001, static_cast<int>(MovieId(2)), true, mark)}));
    EXPECT_EQ(store.Query(version), sqlite ? "3" : "2");
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreContract, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         [](const ::testing::TestParamInfo<StoreKind>& info) {
                             return info.param == StoreKind::Sqlite ? "Sqlite" : "Postgres";
                         });

} // namespace
} // namespace quillory::test
