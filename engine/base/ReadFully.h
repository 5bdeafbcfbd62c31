#pragma once

#include <cstddef>

#include <sys/types.h>

namespace quillory {

// Reads from the descriptor `fd` into `out` until `size` bytes are in or the file ends, reading again where a signal
// interrupted a read or a read returned less: the number of bytes read (less than `size` only at the end of the file),
// or -1 with errno set on an error.
ssize_t ReadFully(int fd, void* out, std::size_t size);

} // namespace quillory
