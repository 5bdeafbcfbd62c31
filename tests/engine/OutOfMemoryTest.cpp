// Running out of memory while the data loads: the failure leaves as CMException naming the file being loaded, so the
// window can say which file was too much. This program replaces the global allocation functions so that a test can
// make every allocation from a chosen size on fail, as a full memory would, without touching the process's limits.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include <unistd.h>

#include "DataSet.h"
#include "EngineErrors.h"
#include "EngineFixtures.h"
#include "MovieTable.h"

namespace {

std::atomic<std::size_t> g_failFrom{std::numeric_limits<std::size_t>::max()};
// The largest single allocation asked for since a test last cleared it.
std::atomic<std::size_t> g_largest{0};

} // namespace

// The replaced functions below pair malloc with free by design; once inlined into a test, GCC mistakes that for a
// mismatched new and delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    std::size_t largest = g_largest.load(std::memory_order_relaxed);
    while (size > largest && !g_largest.compare_exchange_weak(largest, size, std::memory_order_relaxed)) {
    }
    if (size >= g_failFrom.load(std::memory_order_relaxed)) {
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
    return ::operator new(size);
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete[](void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t /*size*/) noexcept {
    std::free(block);
}

void operator delete[](void* block, std::size_t /*size*/) noexcept {
    std::free(block);
}

namespace quillory::test {
namespace {

namespace fs = std::filesystem;

// Makes allocations of `bytes` and more fail while it lives.
class CAllocationLimit {
public:
    explicit CAllocationLimit(std::size_t bytes) { g_failFrom = bytes; }
    ~CAllocationLimit() { g_failFrom = std::numeric_limits<std::size_t>::max(); }
    CAllocationLimit(const CAllocationLimit&) = delete;
    CAllocationLimit& operator=(const CAllocationLimit&) = delete;
};

Thrown InitWithLimit(const fs::path& manifest, std::size_t bytes) {
    CMovieTable table;
    CAllocationLimit limit(bytes);
    return CatchEngineError([&] { table.Init(manifest.string()); });
}

TEST(OutOfMemory, LoadingLeavesAsAnEngineErrorNamingTheFile) {
    CTempFolder folder;
    // 300 movies rated by 400 users: a ratings file of about 1.4 MB beside a movies file of about 9 KB.
    const fs::path manifest = WriteSmallTweetings(folder, 300, 400);
    const fs::path ratings = folder.Path() / "ratings.dat";
    const auto size = static_cast<std::size_t>(fs::file_size(ratings));
    ASSERT_GT(size, std::size_t{1} << 20);
    ASSERT_LT(fs::file_size(folder.Path() / "movies.dat"), std::uintmax_t{1} << 16);

    // No room for the ratings file's bytes themselves.
    Thrown thrown = InitWithLimit(manifest, 1 << 20);
    EXPECT_EQ(thrown.caption, kDataErrorCaption);
    EXPECT_EQ(thrown.text, "Not enough memory to load the ratings file " + ratings.string() + " (" +
                               std::to_string(size) + " bytes).");

    // Room for the bytes (and the string's terminating zero), none for the ratings read from them (32 bytes for each
    // 16 bytes of file).
    thrown = InitWithLimit(manifest, size + 2);
    EXPECT_EQ(thrown.caption, kDataErrorCaption);
    EXPECT_EQ(thrown.text, "Not enough memory to load the ratings file " + ratings.string() + ".");

    // No room for the catalogue: the movies file is named.
    thrown = InitWithLimit(manifest, 1 << 12);
    EXPECT_EQ(thrown.caption, kDataErrorCaption);
    EXPECT_NE(thrown.text.find("movies file " + (folder.Path() / "movies.dat").string()), std::string::npos)
        << thrown.text;

    // With memory enough, the same files load.
    CMovieTable table;
    table.Init(manifest.string());
    EXPECT_EQ(table.GetNumberOfMovies(), 301);
}

TEST(OutOfMemory, TrainingLeavesAsAnEngineErrorAndAWarmStartStillWorks) {
    CTempFolder folder;
    const fs::path manifest = WriteSmallTweetings(folder, 300, 400);
    CMovieTable table;
    table.Init(manifest.string());

    // The data is in; the model's tables are not: about 90K ratings need more than 512 KiB in one piece.
    Thrown thrown;
    {
        CAllocationLimit limit(std::size_t{1} << 19);
        thrown = CatchEngineError([&] { table.InitMatrices(); });
    }
    EXPECT_EQ(thrown.caption, kModelErrorCaption);
    EXPECT_TRUE(thrown.text.starts_with("Training the prediction model on ")) << thrown.text;
    EXPECT_TRUE(thrown.text.ends_with(" ratings of 400 users and 300 movies failed: there is not enough memory."))
        << thrown.text;

    // Nothing half-trained was kept: with memory enough the same table trains, and predicts exactly what a table
    // that never ran short predicts (training is deterministic).
    table.InitMatrices();
    ASSERT_TRUE(fs::remove(folder.Path() / "quillory.sqlite.model")); // the fresh table trains for itself
    CMovieTable fresh;
    fresh.Init(manifest.string());
    fresh.InitMatrices();
    for (const int number : {1, 150, 300}) {
        const long movie = table.GetMovieDetails(number).id;
        EXPECT_EQ(table.GetPredictedRating(movie, 1), fresh.GetPredictedRating(movie, 1)) << number;
    }
}

// A model cache whose header claims more rated entries than the data holds, over a sparse file of exactly the length
// that claim gives (768 MiB more, taking no disk): refused from its header before anything of that size is allocated,
// and the model is trained again.
TEST(OutOfMemory, AModelCacheThatClaimsMoreThanTheDataIsRefusedBeforeAllocating) {
    CTempFolder folder;
    const fs::path manifest = WriteSmallTweetings(folder, 40, 60);
    const fs::path cache = folder.Path() / "quillory.sqlite.model";
    double expected = 0.0;
    {
        CMovieTable table;
        table.Init(manifest.string());
        table.InitMatrices();
        expected = table.GetPredictedRating(MovieId(3), 2);
    }
    // The header: magic (8 bytes), version (4), fingerprint length (8) and bytes, then users, items, factors and
    // sweeps (4 each), implicit and neighbours (1 each), neighbour links (8), rated entries (8), the packed lists'
    // bytes (8 each); each rated entry takes at least a packed byte and a 2-byte residual further on.
    std::string bytes = folder.Read("quillory.sqlite.model");
    std::uint64_t fingerprint = 0;
    std::memcpy(&fingerprint, bytes.data() + 12, sizeof fingerprint);
    const std::size_t at = 20 + fingerprint + 4 * 4 + 2 + 8;
    std::uint64_t rated = 0;
    std::uint64_t ratedBytes = 0;
    std::memcpy(&rated, bytes.data() + at, sizeof rated);
    std::memcpy(&ratedBytes, bytes.data() + at + 16, sizeof ratedBytes);
    ASSERT_GT(rated, 0U) << "the small data's model has a neighbourhood";
    constexpr std::uint64_t kClaimed = std::uint64_t{1} << 28;
    rated += kClaimed;
    ratedBytes += kClaimed;
    std::memcpy(bytes.data() + at, &rated, sizeof rated);
    std::memcpy(bytes.data() + at + 16, &ratedBytes, sizeof ratedBytes);
    folder.Write("quillory.sqlite.model", bytes);
    ASSERT_EQ(::truncate(cache.c_str(), static_cast<off_t>(bytes.size() + kClaimed * 3)), 0) << std::strerror(errno);

    CMovieTable table;
    table.Init(manifest.string());
    g_largest = 0;
    table.InitMatrices();
    EXPECT_LT(g_largest.load(), std::size_t{64} << 20);
    EXPECT_EQ(table.GetPredictedRating(MovieId(3), 2), expected);
    EXPECT_LT(fs::file_size(cache), kClaimed) << "trained again and kept";
}

} // namespace
} // namespace quillory::test
