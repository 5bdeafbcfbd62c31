#include "Checksum.h"

#include <algorithm>
#include <cstring>

namespace quillory {

namespace {

constexpr std::uint64_t kPrime = 1099511628211ull;

} // namespace

// Four independent lanes of FNV-1a over 64-bit words, so that the multiplications overlap instead of waiting on each
// other; the lanes and the last bytes (after the last whole block) are folded together at the end.
void CChecksum::AddBlocks(const unsigned char* data, std::size_t blocks) {
    for (std::size_t b = 0; b < blocks; ++b, data += kBlock) {
        for (int k = 0; k < 4; ++k) {
            std::uint64_t word;
            std::memcpy(&word, data + 8 * static_cast<std::size_t>(k), sizeof word);
            m_lane[k] = (m_lane[k] ^ word) * kPrime;
        }
    }
}

void CChecksum::Add(const unsigned char* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    m_size += size;
    if (m_pendingSize > 0) {
        const std::size_t take = std::min(size, kBlock - m_pendingSize);
        std::memcpy(m_pending + m_pendingSize, data, take);
        m_pendingSize += take;
        data += take;
        size -= take;
        if (m_pendingSize < kBlock) {
            return;
        }
        AddBlocks(m_pending, 1);
        m_pendingSize = 0;
    }
    AddBlocks(data, size / kBlock);
    m_pendingSize = size % kBlock;
    if (m_pendingSize > 0) {
        std::memcpy(m_pending, data + size - m_pendingSize, m_pendingSize);
    }
}

std::uint64_t CChecksum::Finish() const {
    std::uint64_t hash = m_lane[0];
    for (int k = 1; k < 4; ++k) {
        hash = (hash ^ m_lane[k]) * kPrime;
    }
    for (std::size_t i = 0; i < m_pendingSize; ++i) {
        hash = (hash ^ m_pending[i]) * kPrime;
    }
    return (hash ^ m_size) * kPrime;
}

std::uint64_t Checksum(const unsigned char* data, std::size_t size) {
    CChecksum sum;
    sum.Add(data, size);
    return sum.Finish();
}

} // namespace quillory
