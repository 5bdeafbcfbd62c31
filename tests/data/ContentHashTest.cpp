// The fingerprints' hash: XXH3 of a file's bytes, the same whether the bytes are hashed whole, piece by piece as the
// fingerprint reads them, or block by block as the text reader reads them. The values are XXH3's own.
#include <gtest/gtest.h>

#include "ContentHash.h"
#include "EngineFixtures.h"
#include "TextFile.h"

namespace quillory::test {
namespace {

// 5 MiB and 3 bytes of digits in lines of 64 bytes: more than one of the text reader's blocks, and a tail.
std::string BigText() {
    std::string text((std::size_t{5} << 20) + 3, ' ');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = i % 64 == 63 ? '\n' : static_cast<char>('0' + i * 7919 % 10);
    }
    return text;
}

TEST(ContentHash, WholePiecesAndTheTextReaderGiveXxh3) {
    EXPECT_EQ(data::HashBytes(""), 0x2d06800538d394c2ULL);
    EXPECT_EQ(data::HashBytes("1\t1\t5\t0\n"), 0xd0527d0af3d0b796ULL);
    EXPECT_EQ(data::HashBytes("1\t1\t5\t0\n", 7), 0x8bc08b8689fd7995ULL);

    const std::string big = BigText();
    constexpr std::uint64_t kBig = 0x6f1b1f36ca13e5f5ULL;
    EXPECT_EQ(data::HashBytes(big), kBig);
    const auto* bytes = reinterpret_cast<const unsigned char*>(big.data());
    for (const std::size_t piece : {std::size_t{8}, std::size_t{4096}, std::size_t{1} << 20}) {
        SCOPED_TRACE(piece);
        data::CContentHasher hasher(big.size());
        const std::size_t whole = big.size() / piece * piece;
        for (std::size_t at = 0; at < whole; at += piece) {
            hasher.AddWords(bytes + at, piece);
        }
        EXPECT_EQ(hasher.Finish(bytes + whole, big.size() - whole), kBig);
    }

    CTempFolder folder;
    const data::CTextFile file(folder.Write("ratings", big), "ratings file");
    EXPECT_EQ(file.ContentHash(), kBig);
    EXPECT_EQ(file.Size(), big.size());
    EXPECT_EQ(file.Rest(), big);
}

} // namespace
} // namespace quillory::test
