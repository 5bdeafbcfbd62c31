#pragma once

#include <cstddef>
#include <cstdint>

namespace quillory {

// The checksum of a cache file: FNV-1a over 64-bit words in four lanes, many times faster than byte by byte on files
// of tens of megabytes. It finds damage, not tampering: every reader still checks every size and index.
std::uint64_t Checksum(const unsigned char* data, std::size_t size);

// The same checksum over bytes given in parts of any sizes, so that a file can be read straight into the arrays it
// fills: Add each part in order, then Finish gives what Checksum gives for all of them at once.
class CChecksum {
public:
    void Add(const unsigned char* data, std::size_t size);
    std::uint64_t Finish() const;

private:
    void AddBlocks(const unsigned char* data, std::size_t blocks);

    static constexpr std::size_t kBlock = 32; // four lanes of 8 bytes
    std::uint64_t m_lane[4] = {1469598103934665603ull, 1469598103934665603ull ^ 1, 1469598103934665603ull ^ 2,
                               1469598103934665603ull ^ 3};
    unsigned char m_pending[kBlock] = {}; // the start of a block not yet whole
    std::size_t m_pendingSize = 0;
    std::uint64_t m_size = 0;
};

} // namespace quillory
