#include "ReadFully.h"

#include <cerrno>

#include <unistd.h>

namespace quillory {

ssize_t ReadFully(int fd, void* out, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(out);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, bytes + got, size - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

} // namespace quillory
