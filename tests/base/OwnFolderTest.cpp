// Which folders and derived files are the user's own: his, writable by nobody else, and reached through no folder or
// symbolic link another user controls.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "EngineFixtures.h"
#include "OwnFolder.h"

namespace quillory::test {
namespace {

namespace fs = std::filesystem;

// WhyNotOwnFolder, or WhyNotOwnFile for a file, on each path of one tree: nothing, or the reason, with "@" for the
// tree's folder and "#" for another user's uid. Giving a file to another user takes root.
TEST(OwnFolder, OnlyTheUsersOwnFoldersAndFilesPass) {
    const bool root = ::geteuid() == 0;
    const uid_t other = 4000000; // no account's
    CTempFolder tree;
    const fs::path at = tree.Path();
    for (const auto& [path, mode] : std::initializer_list<std::pair<const char*, unsigned>>{{"own/b", 0700},
                                                                                            {"own", 0700},
                                                                                            {"group", 0770},
                                                                                            {"sticky", 01707},
                                                                                            {"open/b", 0700},
                                                                                            {"open", 0777},
                                                                                            {"tmp/b", 0700},
                                                                                            {"tmp", 01777},
                                                                                            {"theirs/b", 0700},
                                                                                            {"f600", 0600},
                                                                                            {"f602", 0602},
                                                                                            {"ftheirs", 0600}}) {
        if (path[0] == 'f') {
            std::ofstream(at / path) << "x";
        } else {
            fs::create_directories(at / path);
        }
        fs::permissions(at / path, static_cast<fs::perms>(mode));
    }
    fs::create_directory_symlink(at / "own", at / "mine");
    fs::create_directory_symlink(at / "own", at / "planted");
    for (const char* given : {"theirs", "planted", "ftheirs"}) {
        ASSERT_TRUE(!root || ::lchown((at / given).c_str(), other, static_cast<gid_t>(-1)) == 0) << given;
    }
    struct Case {
        const char* path;
        bool file, needsRoot;
        const char* why;
    } const cases[] = {
        {"own", false, false, ""},
        {"group", false, false, "@/group can be written by other users (mode 0770)"},
        {"sticky", false, false, "@/sticky can be written by other users (mode 1707)"},
        {"open/b", false, false, "@/open can be written by other users (mode 0777)"},
        {"tmp/b", false, false, ""}, // a folder above with the sticky bit
        {"mine/b", false, false, ""},
        {"theirs", false, true, "the folder @/theirs belongs to another user (uid #)"},
        {"theirs/b", false, true, "the folder @/theirs belongs to another user (uid #)"},
        {"planted/b", false, true, "the symbolic link @/planted belongs to another user (uid #)"},
        {"f600", true, false, ""},
        {"own", true, false, "it is not a regular file"},
        {"f602", true, false, "it can be written by other users (mode 0602)"},
        {"ftheirs", true, true, "it belongs to another user (uid #)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        if (c.needsRoot && !root) {
            continue;
        }
        struct stat info {};
        ASSERT_EQ(::lstat((at / c.path).c_str(), &info), 0);
        std::string why = c.why;
        for (std::size_t i = why.find_first_of("@#"); i != std::string::npos; i = why.find_first_of("@#")) {
            why.replace(i, 1, why[i] == '@' ? at.string() : std::to_string(other));
        }
        EXPECT_EQ((c.file ? WhyNotOwnFile(info) : WhyNotOwnFolder(at / c.path)).value_or(""), why);
    }
    if (!root) {
        GTEST_SKIP() << "The cases of another user's folder, link and file need root (CI runs the tests as root).";
    }
}

} // namespace
} // namespace quillory::test
