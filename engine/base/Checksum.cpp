#include "Checksum.h"

#include <cstring>

namespace quillory {

std::uint64_t Checksum(const unsigned char* data, std::size_t size) {
    // Four independent lanes of FNV-1a over 64-bit words, so that the multiplications overlap instead of waiting on
    // each other; the lanes and the last bytes are folded together at the end.
    std::uint64_t lane[4] = {1469598103934665603ull, 1469598103934665603ull ^ 1, 1469598103934665603ull ^ 2,
                             1469598103934665603ull ^ 3};
    std::size_t i = 0;
    for (; i + 32 <= size; i += 32) {
        for (int k = 0; k < 4; ++k) {
            std::uint64_t word;
            std::memcpy(&word, data + i + 8 * static_cast<std::size_t>(k), sizeof word);
            lane[k] = (lane[k] ^ word) * 1099511628211ull;
        }
    }
    std::uint64_t hash = lane[0];
    for (int k = 1; k < 4; ++k) {
        hash = (hash ^ lane[k]) * 1099511628211ull;
    }
    for (; i < size; ++i) {
        hash = (hash ^ data[i]) * 1099511628211ull;
    }
    return (hash ^ size) * 1099511628211ull;
}

} // namespace quillory
