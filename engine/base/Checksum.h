#pragma once

#include <cstddef>
#include <cstdint>

namespace quillory {

// The checksum of a cache file: FNV-1a over 64-bit words in four lanes, many times faster than byte by byte on files
// of tens of megabytes. It finds damage, not tampering: every reader still checks every size and index.
std::uint64_t Checksum(const unsigned char* data, std::size_t size);

} // namespace quillory
