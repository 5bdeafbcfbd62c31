#include "RegularFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillory::data {

namespace {

// Why a file of this mode cannot be read as data, or nullptr for a regular file.
const char* NotRegularReason(mode_t mode) {
    if (S_ISREG(mode)) {
        return nullptr;
    }
    return S_ISDIR(mode)                    ? "it is a folder, not a file"
           : S_ISFIFO(mode)                 ? "it is a named pipe (FIFO), not a regular file"
           : S_ISSOCK(mode)                 ? "it is a socket, not a regular file"
           : S_ISCHR(mode) || S_ISBLK(mode) ? "it is a device, not a regular file"
                                            : "it is not a regular file";
}

} // namespace

int OpenRegularFile(const std::filesystem::path& path, std::uint64_t& size, std::string& reason) {
    size = 0;
    // Opening a device can itself do something (rewind a tape, claim a port): look before opening.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        reason = std::strerror(errno);
        return -1;
    }
    if (const char* why = NotRegularReason(info.st_mode)) {
        reason = why;
        return -1;
    }
    // O_NONBLOCK makes opening a FIFO return at once instead of waiting for a writer, should one be swapped in
    // after the look above; the kind is checked again on the descriptor itself, which is what is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    if (::fstat(fd, &info) != 0) {
        reason = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (const char* why = NotRegularReason(info.st_mode)) {
        reason = why;
        ::close(fd);
        return -1;
    }
    // A regular file never blocks a read; clearing the flag keeps reads plain for the rest of the descriptor's life.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

} // namespace quillory::data
