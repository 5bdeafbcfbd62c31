// The derived files' writer: a file is its parts or nothing, and what it replaces is kept until it is whole.
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "ByteWriter.h"
#include "CacheFileWriter.h"
#include "Checksum.h"
#include "EngineFixtures.h"

namespace quillory::test {
namespace {

namespace fs = std::filesystem;

void Put(const CacheFileSink& sink, std::string_view bytes) {
    sink(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// A file written part by part: a writer that fails after some parts (a failed allocation, a full disk) leaves the
// file it would have replaced as it was, and no temporary beside it; one that ends makes exactly its parts.
TEST(CacheFileWriter, AFileWrittenPartByPartIsItsPartsOrNothing) {
    const CTempFolder folder;
    const fs::path file = folder.Path() / "model.cache";
    const std::string magic = "QLRYTEST";
    WriteCacheFile(file, [&](const CacheFileSink& sink) {
        Put(sink, magic);
        Put(sink, "saved before");
    });
    const std::string saved = folder.Read("model.cache");
    EXPECT_EQ(saved, magic + "saved before");
    EXPECT_THROW(WriteCacheFile(file,
                                [&](const CacheFileSink& sink) {
                                    Put(sink, magic);
                                    throw std::bad_alloc();
                                }),
                 std::bad_alloc);
    EXPECT_EQ(folder.Read("model.cache"), saved);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1);
    // Written whole, the parts make the file.
    WriteCacheFile(file, [&](const CacheFileSink& sink) {
        Put(sink, magic);
        Put(sink, "rest");
    });
    EXPECT_EQ(folder.Read("model.cache"), magic + "rest");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1);
    // Put through a writer, parts below, at and above its block make the bytes they are, then their checksum.
    std::string bytes = magic;
    for (const std::size_t size : {std::size_t{3}, std::size_t{70000}, std::size_t{65536}, std::size_t{1}}) {
        bytes += std::string(size, static_cast<char>('a' + size % 26));
    }
    WriteSummedCacheFile(file, [&](CByteWriter& out) {
        std::size_t at = 0;
        for (const std::size_t size :
             {std::size_t{8}, std::size_t{3}, std::size_t{70000}, std::size_t{65536}, std::size_t{1}}) {
            out.Put(bytes.data() + at, size);
            at += size;
        }
    });
    const std::uint64_t sum = Checksum(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    EXPECT_EQ(folder.Read("model.cache"), bytes + std::string(reinterpret_cast<const char*>(&sum), sizeof sum));
}

} // namespace
} // namespace quillory::test
