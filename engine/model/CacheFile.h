#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Files of derived data (the trained model, the parsed data) kept beside the user's store. They are rebuilt at will,
// so reading one never trusts it and writing one never harms a file the program did not make.
namespace quillory::model {

// The checksum of a cache file: FNV-1a over 64-bit words in four lanes, many times faster than byte by byte on files
// of tens of megabytes. It finds damage, not tampering: every reader still checks every size and index.
std::uint64_t Checksum(const unsigned char* data, std::size_t size);

// Builds a cache file's bytes in memory. Values are kept in the machine's own byte order: the files never leave the
// computer that wrote them, and the header's counts and the checksum refuse anything else.
class CByteWriter {
public:
    void Put(const void* data, std::size_t size);
    template <class T> void PutValue(const T& value) { Put(&value, sizeof value); }
    template <class T> void PutVector(const std::vector<T>& values) { Put(values.data(), values.size() * sizeof(T)); }
    std::vector<unsigned char>& Bytes() { return m_bytes; }

private:
    std::vector<unsigned char> m_bytes;
};

// Reads a cache file's bytes back. Every read is bounded by what is left, so a short or lying file fails a read
// instead of reading past its end or allocating what it claims.
class CByteReader {
public:
    CByteReader(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Get(void* out, std::size_t size);
    template <class T> bool GetValue(T& value) { return Get(&value, sizeof value); }
    template <class T> bool GetVector(std::vector<T>& values, std::size_t count) {
        if (Left() / sizeof(T) < count)
            return false;
        values.resize(count);
        return Get(values.data(), count * sizeof(T));
    }
    bool GetText(std::string& text, std::size_t size);
    std::size_t Left() const { return m_size - m_pos; }

private:
    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// Writes `bytes` as `path`: a temporary with a unique name in the same folder, created exclusively and without
// following symlinks (mode 0600), then renamed over `path`; not synced, since readers check length and checksum. An
// existing `path` is replaced only when it is a regular file whose first bytes are `magic` (a file this program
// wrote); anything else there (a symlink, another program's file, a folder) is left alone. Throws
// std::runtime_error saying why nothing was written.
void WriteCacheFile(const std::filesystem::path& path, const std::vector<unsigned char>& bytes, std::string_view magic);

// A cache file opened for reading: only a regular file, reached without following a symlink at its own name, and
// never a FIFO or device (the open does not block and the kind is checked before any read).
class CCacheFileReader {
public:
    CCacheFileReader() = default;
    ~CCacheFileReader();
    CCacheFileReader(const CCacheFileReader&) = delete;
    CCacheFileReader& operator=(const CCacheFileReader&) = delete;

    // False when there is no such regular file or it cannot be read.
    bool Open(const std::filesystem::path& path);
    // The file's length in bytes when opened.
    std::uint64_t Size() const { return m_size; }
    // Reads exactly `size` bytes at the current position; false at the end or on an error.
    bool Read(void* out, std::size_t size);

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

} // namespace quillory::model
