// What the engine makes of data paths that are not plain files, or that cannot fit in memory: each is refused at
// once, by name, and nothing waits for a writer that never comes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include "DataSet.h"
#include "EngineErrors.h"
#include "EngineFixtures.h"
#include "MovieTable.h"
#include "TextFile.h"

namespace quillory::test {
namespace {

namespace fs = std::filesystem;

// Replaces the file at `path` by a named pipe nobody writes to: opening it for reading the ordinary way would wait
// forever (the test's time limit ends such a wait as a failure).
void MakeFifo(const fs::path& path) {
    fs::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
}

std::string InitFailure(const fs::path& manifest) {
    CMovieTable table;
    const Thrown thrown = CatchEngineError([&] { table.Init(manifest.string()); });
    EXPECT_EQ(thrown.caption, kDataErrorCaption);
    return thrown.text;
}

TEST(DataFileKind, PipesAndFoldersAreRefusedByNameWithoutWaiting) {
    {
        SCOPED_TRACE("ratings file is a FIFO");
        CTempFolder folder;
        const fs::path manifest = WriteSmallTweetings(folder, 4, 3);
        MakeFifo(folder.Path() / "ratings.dat");
        EXPECT_EQ(InitFailure(manifest), manifest.string() + ", line 3: cannot open the file " +
                                             (folder.Path() / "ratings.dat").string() +
                                             " named by the key \"ratings\": it is a named pipe (FIFO), not a "
                                             "regular file.");
    }
    {
        SCOPED_TRACE("manifest is a FIFO");
        CTempFolder folder;
        WriteSmallTweetings(folder, 4, 3);
        const fs::path manifest = folder.Path() / "files.txt";
        MakeFifo(manifest);
        EXPECT_EQ(InitFailure(manifest),
                  "Cannot open the manifest " + manifest.string() + ": it is a named pipe (FIFO), not a regular file.");
    }
    {
        SCOPED_TRACE("movies file is a folder");
        CTempFolder folder;
        const fs::path manifest = WriteSmallTweetings(folder, 4, 3);
        fs::remove(folder.Path() / "movies.dat");
        fs::create_directory(folder.Path() / "movies.dat");
        EXPECT_EQ(InitFailure(manifest), manifest.string() + ", line 2: cannot open the file " +
                                             (folder.Path() / "movies.dat").string() +
                                             " named by the key \"movies\": it is a folder, not a file.");
    }
    {
        SCOPED_TRACE("movies file is a socket");
        CTempFolder folder;
        const fs::path manifest = WriteSmallTweetings(folder, 4, 3);
        const fs::path movies = folder.Path() / "movies.dat";
        fs::remove(movies);
        // A socket's address holds at most 107 bytes, and a build folder's path may be longer: the socket is bound
        // through the folder's descriptor, whose name under /proc is short whatever the folder's path.
        const int folderFd = ::open(folder.Path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(folderFd, 0) << std::strerror(errno);
        const std::string shortName = "/proc/self/fd/" + std::to_string(folderFd) + "/movies.dat";
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(shortName.size(), sizeof address.sun_path);
        std::strcpy(address.sun_path, shortName.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
        ::close(folderFd);
        ASSERT_TRUE(fs::is_socket(movies)) << movies;
        EXPECT_EQ(InitFailure(manifest), manifest.string() + ", line 2: cannot open the file " + movies.string() +
                                             " named by the key \"movies\": it is a socket, not a regular file.");
        ::close(fd);
    }
    {
        SCOPED_TRACE("ratings file is a device");
        CTempFolder folder;
        const fs::path manifest = WriteSmallTweetings(folder, 4, 3);
        const fs::path ratings = folder.Path() / "ratings.dat";
        fs::remove(ratings);
        // Only root may make a device node, and not in every container: where it cannot, this case is left out.
        if (::mknod(ratings.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) { // the null device
            EXPECT_EQ(InitFailure(manifest), manifest.string() + ", line 3: cannot open the file " + ratings.string() +
                                                 " named by the key \"ratings\": it is a device, not a regular file.");
        } else {
            std::cout << "(no device node could be made here: " << std::strerror(errno) << ")\n";
        }
    }
    {
        SCOPED_TRACE("a FIFO swapped in after the manifest was read");
        CTempFolder folder;
        const fs::path manifest = WriteSmallTweetings(folder, 4, 3);
        const data::Manifest read = data::ReadManifest(manifest.string());
        MakeFifo(read.ratings);
        const Thrown thrown = CatchEngineError([&] { data::LoadDataSet(read); });
        EXPECT_EQ(thrown.text, "Cannot open the ratings file " + read.ratings.string() +
                                   ": it is a named pipe (FIFO), not a regular file.");
    }
}

TEST(DataFileKind, AFileLargerThanTheMemoryIsRefusedBeforeAnythingIsAllocated) {
    CTempFolder folder;
    const fs::path manifest = WriteSmallTweetings(folder, 4, 3);
    // A sparse file: it claims more bytes than the computer has, and takes no room on the disk.
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    ASSERT_GT(pages, 0);
    const auto memory = static_cast<std::uintmax_t>(pages) * static_cast<std::uintmax_t>(pageSize);
    const fs::path ratings = folder.Path() / "ratings.dat";
    fs::resize_file(ratings, memory + (std::uintmax_t{1} << 30));
    const std::string text = InitFailure(manifest);
    EXPECT_EQ(text.rfind("Cannot load the ratings file " + ratings.string() + ": it holds ", 0), 0U) << text;
    EXPECT_NE(text.find(" bytes of this computer's memory."), std::string::npos) << text;
}

} // namespace
} // namespace quillory::test
