#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillory::data {

// A fast 64-bit hash of bytes (not cryptographic): it only tells whether data files changed.
std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed = 0);

// HashBytes taken piece by piece, for a file read in blocks: the total length first, then the bytes in order in
// whole 8-byte words, then the last 0 to 7 bytes. The result equals HashBytes of the same bytes.
class CContentHasher {
public:
    explicit CContentHasher(std::uint64_t size, std::uint64_t seed = 0);
    // `count` bytes, a multiple of 8.
    void AddWords(const unsigned char* bytes, std::size_t count);
    std::uint64_t Finish(const unsigned char* tail, std::size_t count);

private:
    std::uint64_t m_h;
};

} // namespace quillory::data
