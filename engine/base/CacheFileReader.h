#pragma once

#include <cstdint>
#include <filesystem>

namespace quillory {

// A cache file opened for reading: only a regular file that belongs to the user who runs the program and that nobody
// else may write (see WhyNotOwnFile), reached without following a symlink at its own name, and never a FIFO or
// device (the open does not block and the kind and owner are checked before any read).
class CCacheFileReader {
public:
    CCacheFileReader() = default;
    ~CCacheFileReader();
    CCacheFileReader(const CCacheFileReader&) = delete;
    CCacheFileReader& operator=(const CCacheFileReader&) = delete;

    // False when there is no such regular file of the user's, or it cannot be read.
    bool Open(const std::filesystem::path& path);
    // The file's length in bytes when opened.
    std::uint64_t Size() const { return m_size; }
    // Reads exactly `size` bytes at the current position; false at the end or on an error.
    bool Read(void* out, std::size_t size);

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

} // namespace quillory
