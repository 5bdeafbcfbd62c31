#include "CacheFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "OwnFolder.h"
#include "ReadFully.h"

namespace quillory {

CCacheFileReader::~CCacheFileReader() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool CCacheFileReader::Open(const std::filesystem::path& path) {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer. O_NOFOLLOW: a symlink at the
    // cache's name is not ours to read through.
    m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (m_fd < 0) {
        return false;
    }
    // Only the user's own file, which nobody else could have written: derived data is trusted on its checksum, and
    // anyone who could write it could give it a right one.
    struct stat info {};
    if (::fstat(m_fd, &info) != 0 || WhyNotOwnFile(info) || info.st_size < 0) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool CCacheFileReader::Read(void* out, std::size_t size) {
    if (m_fd < 0) {
        return false;
    }
    return ReadFully(m_fd, out, size) == static_cast<ssize_t>(size);
}

} // namespace quillory
