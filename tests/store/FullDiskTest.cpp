// A full disk is called a full disk, naming the folder whose disk it is: at start-up, where SQLite itself says only
// "disk I/O error" for some of its writes, and at a write.
#include <fcntl.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "EngineErrors.h"
#include "EngineFixtures.h"
#include "MException.h"
#include "MovieTable.h"
#include "SqliteDatabase.h"

namespace quillory::test {
namespace {

namespace fs = std::filesystem;
using store::CSqliteDatabase;

TEST(FullDisk, TheResultsThatMeanAFullDisk) {
    struct Case {
        int code;
        int error;
        bool full;
    } const cases[] = {
        {SQLITE_FULL, 0, true}, // SQLite's own "database or disk is full"
        {SQLITE_FULL, ENOSPC, true},
        {SQLITE_IOERR_WRITE, ENOSPC, true},   // "disk I/O error" for want of room
        {SQLITE_IOERR_SHMSIZE, ENOSPC, true}, // the shared memory of a new store cannot grow
        {SQLITE_IOERR_FSYNC, EDQUOT, true},   // the user's quota
        {SQLITE_IOERR_WRITE, EIO, false},     // a disk that fails
        {SQLITE_IOERR_READ, 0, false},
        {SQLITE_CANTOPEN, ENOSPC, false}, // not a write
        {SQLITE_READONLY, EROFS, false},
        {SQLITE_BUSY, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.code << " " << c.error);
        EXPECT_EQ(CSqliteDatabase::IsDiskFull(c.code, c.error), c.full);
    }
}

// Runs `body` in a child process on a file system of `bytes` bytes mounted over `folder`: a real full disk, seen by
// the child alone (the folder is as it was once the child is gone). It takes a mount namespace of its own, which needs
// root (CI runs the tests as root); false, having run nothing, when that is not allowed here.
bool RunOnASmallDisk(const fs::path& folder, std::size_t bytes, const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        // Private below /, so that the mount is never seen outside this process.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            ::_exit(77);
        }
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            ::_exit(77);
        }
        try {
            body();
        } catch (const CMException& e) {
            ADD_FAILURE() << "CMException: " << e.GetText();
        }
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        return false;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the case on a small disk failed (see above)";
    return true;
}

// Takes up every byte left on the disk that holds `folder`.
void FillTheDisk(const fs::path& folder) {
    const int fd = ::open((folder / "filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const std::vector<char> block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    const std::vector<char> byte(1, 'x');
    while (::write(fd, byte.data(), 1) > 0) {
    }
    ::close(fd);
}

// Each case fills the disk at a moment of its own and then makes the calls that must write: whichever call finds
// the disk full says so, naming the folder, and the start never calls it an I/O error.
TEST(FullDisk, AFullDiskIsCalledSoAndNamesTheFolder) {
    struct Case {
        const char* name;
        bool storeMadeFirst; // the store was made, with an account, while there was room
    } const cases[] = {
        {"a new store", false},
        {"a store that must grow", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CTempFolder folder;
        const fs::path disk = folder.Path();
        const bool ran = RunOnASmallDisk(disk, 512 * 1024, [&] {
            const fs::path manifest = WriteSmallTweetings(folder, 6, 5);
            if (c.storeMadeFirst) {
                CMovieTable table;
                table.Init(manifest.string());
                ASSERT_NE(table.InsertUser("ann", "pw-ann"), NO_USER);
            }
            FillTheDisk(disk);
            const Thrown thrown = CatchEngineError([&] {
                CMovieTable table;
                table.Init(manifest.string());
                for (int i = 0; i < 1000; ++i) {
                    table.InsertUser("user " + std::to_string(i), "pw");
                }
            });
            EXPECT_EQ(thrown.caption, kStoreErrorCaption);
            EXPECT_NE(thrown.text.find("the disk that holds " + disk.string() + " is full"), std::string::npos)
                << thrown.text;
        });
        if (!ran) {
            GTEST_SKIP() << "A small file system can be mounted only with root's rights over mounts; here they are "
                            "missing, so a full disk cannot be made (the results that mean one are checked above).";
        }
    }
}

} // namespace
} // namespace quillory::test
