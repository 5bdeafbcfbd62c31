#include "ContentHash.h"

#include <cstring>

namespace quillory::data {

namespace {

std::uint64_t Mix(std::uint64_t h, std::uint64_t word) {
    h ^= word * 0x9E3779B97F4A7C15ULL;
    h = (h << 31) | (h >> 33);
    return h * 0xC2B2AE3D27D4EB4FULL;
}

} // namespace

CContentHasher::CContentHasher(std::uint64_t size, std::uint64_t seed) : m_h(seed ^ (0x27D4EB2F165667C5ULL + size)) {}

void CContentHasher::AddWords(const unsigned char* bytes, std::size_t count) {
    for (std::size_t i = 0; i + 8 <= count; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + i, 8);
        m_h = Mix(m_h, word);
    }
}

std::uint64_t CContentHasher::Finish(const unsigned char* tail, std::size_t count) {
    std::uint64_t last = 0;
    std::memcpy(&last, tail, count);
    std::uint64_t h = Mix(m_h, last);
    h ^= h >> 29;
    h *= 0x94D049BB133111EBULL;
    return h ^ (h >> 32);
}

std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed) {
    CContentHasher hasher(bytes.size(), seed);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t whole = bytes.size() / 8 * 8;
    hasher.AddWords(data, whole);
    return hasher.Finish(data + whole, bytes.size() - whole);
}

} // namespace quillory::data
