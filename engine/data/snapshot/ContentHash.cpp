#include "ContentHash.h"

#include <new>

#include <xxhash.h>

namespace quillory::data {

// The streaming state of XXH3 lives on the heap: it is large, and its layout belongs to the library.
struct CContentHasher::State {
    XXH3_state_t* xxh = nullptr;
};

std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed) {
    return XXH3_64bits_withSeed(bytes.data(), bytes.size(), seed);
}

CContentHasher::CContentHasher(std::uint64_t /*size*/, std::uint64_t seed) : m_state(std::make_unique<State>()) {
    m_state->xxh = XXH3_createState();
    if (m_state->xxh == nullptr) {
        throw std::bad_alloc();
    }
    XXH3_64bits_reset_withSeed(m_state->xxh, seed);
}

CContentHasher::~CContentHasher() {
    XXH3_freeState(m_state->xxh);
}

void CContentHasher::AddWords(const unsigned char* bytes, std::size_t count) {
    AddBytes(bytes, count);
}

void CContentHasher::AddBytes(const void* bytes, std::size_t count) {
    XXH3_64bits_update(m_state->xxh, bytes, count);
}

std::uint64_t CContentHasher::Finish(const unsigned char* tail, std::size_t count) {
    AddBytes(tail, count);
    return XXH3_64bits_digest(m_state->xxh);
}

} // namespace quillory::data
