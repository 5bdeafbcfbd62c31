#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "Checksum.h"

namespace {

using quillory::CChecksum;
using quillory::Checksum;

// The cache files on users' disks carry these sums: the values are pinned, and a sum taken over parts of any sizes
// must equal the one taken at once, whatever the parts' edges do to the 32-byte blocks.
TEST(Checksum, KeepsItsValuesAndAddsUpOverPartsOfAnySize) {
    std::vector<unsigned char> bytes(100);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    const struct {
        std::size_t size;
        std::uint64_t sum;
    } pinned[] = {{0, 0x459d29014a6c55e6ULL},  {1, 0xb65f2c31761310f6ULL},  {31, 0x19c622826f11630fULL},
                  {32, 0xf80a342b66dbf104ULL}, {33, 0x52c57abfc5990934ULL}, {100, 0x8361617e7cd77d48ULL}};
    for (const auto& [size, sum] : pinned) {
        EXPECT_EQ(Checksum(bytes.data(), size), sum) << size << " bytes";
    }
    const std::vector<std::vector<std::size_t>> splits = {{100},         {0, 100},     {1, 99},       {31, 1, 68},
                                                          {5, 5, 5, 85}, {32, 32, 36}, {33, 0, 66, 1}};
    for (const std::vector<std::size_t>& parts : splits) {
        CChecksum sum;
        std::size_t at = 0;
        for (const std::size_t part : parts) {
            sum.Add(bytes.data() + at, part);
            at += part;
        }
        EXPECT_EQ(sum.Finish(), 0x8361617e7cd77d48ULL) << parts.size() << " parts, the first of " << parts[0];
    }
}

} // namespace
