// A store that cannot be written is read as it is, wherever SQLite keeps what it needs to read it, and refuses
// every write by name; a store whose unread changes cannot be reached says so instead of showing less than it holds.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "EngineErrors.h"
#include "EngineFixtures.h"
#include "SqliteStore.h"

namespace quillory::test {
namespace {

namespace fs = std::filesystem;
using store::CRatingStore;
using store::CSqliteStore;

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every write the store has, each refused with the same words.
void ExpectEveryWriteRefused(CSqliteStore& store, const std::string& why) {
    const std::string refused = "the store " + store.Describe() + " is read-only (" + why + ")";
    for (const auto& write :
         std::initializer_list<std::function<void()>>{[&] { store.InsertUser("bob", "bob", "$argon2id$fake"); },
                                                      [&] { store.InsertUser("ann", "ann", "$argon2id$fake"); },
                                                      [&] {
                                                          store.InsertRating({2000000000, 1000002, 3, 0});
                                                      },
                                                      [&] { store.SetNotInterested(2000000000, 1000003, true); }}) {
        const Thrown thrown = CatchEngineError(write);
        EXPECT_EQ(thrown.caption, kStoreErrorCaption);
        EXPECT_NE(thrown.text.find(refused), std::string::npos) << thrown.text;
    }
}

// A store of one account with one rating, closed, in `folder`.
fs::path WriteStore(const fs::path& folder) {
    const fs::path path = folder / "quillory.sqlite";
    CSqliteStore store(path);
    EXPECT_EQ(store.InsertUser("ann", "ann", "$argon2id$fake"), 2000000000);
    EXPECT_TRUE(store.InsertRating({2000000000, 1000001, 4, 100}));
    EXPECT_EQ(store.WhyReadOnly(), "");
    return path;
}

// Opened read-only whatever its folder allows (as root, too): everything reads, nothing is written. (In a folder
// whose name SQLite would otherwise read as part of a URI.)
TEST(ReadOnlyStore, OpenedForReadingItReadsAndRefusesEveryWrite) {
    const CTempFolder folder;
    fs::create_directory(folder.Path() / "a ?b#c%d");
    const fs::path path = WriteStore(folder.Path() / "a ?b#c%d");
    const std::string before = Bytes(path);
    {
        CSqliteStore store(path, CSqliteStore::kDefaultBusyTimeoutMs, CSqliteStore::Access::ReadOnly);
        EXPECT_EQ(store.WhyReadOnly(), "it was opened for reading only");
        ASSERT_TRUE(store.FindUser("ann", "ann"));
        EXPECT_EQ(store.LoadNewUsers().size(), 1U);
        EXPECT_EQ(store.LoadNewRatings().size(), 1U);
        EXPECT_TRUE(store.ChangedSinceLastLook()); // the first look always answers yes
        EXPECT_FALSE(store.ChangedSinceLastLook());
        ExpectEveryWriteRefused(store, "it was opened for reading only");
        EXPECT_EQ(store.LoadNewUsers().size(), 0U);
    }
    // Nothing was written, not even the side files SQLite makes to read a store it may write.
    EXPECT_EQ(Bytes(path), before);
    EXPECT_FALSE(fs::exists(path.string() + "-wal"));
    EXPECT_FALSE(fs::exists(path.string() + "-shm"));
    // A store that is not there is not made when it is only to be read.
    const Thrown thrown =
        CatchEngineError([&] { CSqliteStore(folder.Path() / "none.sqlite", 100, CSqliteStore::Access::ReadOnly); });
    EXPECT_NE(thrown.text.find("is not a file"), std::string::npos) << thrown.text;
    EXPECT_FALSE(fs::exists(folder.Path() / "none.sqlite"));
}

// In a folder that cannot be written SQLite can make neither a write-ahead log nor the shared memory it reads one
// through. A store closed as it should be has no log: the file holds everything. One left open by a program that
// was killed has its log and shared memory beside it: they are read. A log whose shared memory is gone cannot be
// read there: the store says so, rather than show less than it holds.
TEST(ReadOnlyStore, InAFolderThatCannotBeWrittenItIsReadWithWhatItHolds) {
    struct Case {
        const char* name;
        bool killedWriter;     // a second rating written by a program killed before it closed the store
        bool sharedMemoryGone; // its shared-memory file removed afterwards
        std::size_t ratings;   // what is read; 0: the store cannot be read
    } const cases[] = {
        {"closed as it should be", false, false, 1},
        {"left open by a killed program", true, false, 2},
        {"a log without its shared memory", true, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CTempFolder folder;
        const bool ran = RunAsOrdinaryUser(folder.Path(), [&] {
            const fs::path path = WriteStore(folder.Path());
            if (c.killedWriter) {
                const pid_t writer = ::fork();
                if (writer == 0) {
                    CSqliteStore store(path);
                    store.InsertRating({2000000000, 1000002, 5, 200});
                    ::_exit(0); // the store is never closed: its log keeps the rating
                }
                int status = 0;
                ASSERT_EQ(::waitpid(writer, &status, 0), writer);
                ASSERT_GT(fs::file_size(path.string() + "-wal"), 0U);
            }
            if (c.sharedMemoryGone) {
                fs::remove(path.string() + "-shm");
            }
            fs::permissions(folder.Path(), fs::perms::owner_read | fs::perms::owner_exec);
            if (c.ratings == 0) {
                const Thrown thrown = CatchEngineError([&] { CSqliteStore store(path); });
                EXPECT_EQ(thrown.caption, kStoreErrorCaption);
                EXPECT_NE(thrown.text.find("The store " + path.string() +
                                           " cannot be read: it is read-only (its "
                                           "folder " +
                                           folder.Path().string() + " cannot be written"),
                          std::string::npos)
                    << thrown.text;
                EXPECT_NE(thrown.text.find("write-ahead log " + path.string() + "-wal"), std::string::npos)
                    << thrown.text;
            } else {
                CSqliteStore store(path);
                EXPECT_NE(store.WhyReadOnly().find("its folder " + folder.Path().string() + " cannot be written"),
                          std::string::npos)
                    << store.WhyReadOnly();
                ASSERT_TRUE(store.FindUser("ann", "ann"));
                EXPECT_EQ(store.LoadNewRatings().size(), c.ratings);
                ExpectEveryWriteRefused(store, store.WhyReadOnly());
            }
            fs::permissions(folder.Path(), fs::perms::owner_all);
            // Writable again, the store is written as before, with nothing lost.
            CSqliteStore store(path);
            EXPECT_EQ(store.WhyReadOnly(), "");
            EXPECT_EQ(store.LoadNewRatings().size(), c.killedWriter ? 2U : 1U);
            EXPECT_EQ(store.InsertUser("bob", "bob", "$argon2id$fake"), 2000000001);
        });
        if (!ran) {
            GTEST_SKIP() << "The build folder is closed to other users: the cases cannot run as one.";
        }
    }
}

} // namespace
} // namespace quillory::test
