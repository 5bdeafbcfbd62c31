#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace quillory::data {

// A fast 64-bit hash of bytes (XXH3, not cryptographic): it only tells whether data files changed. It reads many
// gigabytes a second, so a warm start that hashes the data files costs little beside reading them.
std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed = 0);

// HashBytes taken piece by piece, for a file read in blocks: the total length first, then the bytes in order in
// whole 8-byte words, then the last 0 to 7 bytes. The result equals HashBytes of the same bytes.
class CContentHasher {
public:
    // `size` says how many bytes will come; the hash itself needs no length in advance.
    explicit CContentHasher(std::uint64_t size, std::uint64_t seed = 0);
    ~CContentHasher();
    CContentHasher(const CContentHasher&) = delete;
    CContentHasher& operator=(const CContentHasher&) = delete;

    // `count` bytes, a multiple of 8.
    void AddWords(const unsigned char* bytes, std::size_t count);
    // Any number of bytes (the block-wise reader of CTextFile).
    void AddBytes(const void* bytes, std::size_t count);
    std::uint64_t Finish(const unsigned char* tail, std::size_t count);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace quillory::data
