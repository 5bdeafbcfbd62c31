// The threads that parse the ratings' pieces: how many the environment asks for, that every piece is parsed once,
// and that of several failing pieces the one earliest in the file is reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ChunkThreads.h"

namespace quillory::test {
namespace {

TEST(ChunkThreads, QuillorysThreadsVariableInItsRangeElseTheCores) {
    const char* old = std::getenv("QUILLORY_THREADS");
    const std::string saved = old != nullptr ? old : "";
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    const std::vector<std::pair<const char*, unsigned>> cases{
        {"1", 1}, {"3", 3}, {"256", 256}, {"0", cores}, {"257", cores}, {"2x", cores}, {"", cores}, {"-2", cores}};
    for (const auto& [text, threads] : cases) {
        ::setenv("QUILLORY_THREADS", text, 1);
        EXPECT_EQ(data::LoadingThreads(), threads) << text;
    }
    if (old != nullptr) {
        ::setenv("QUILLORY_THREADS", saved.c_str(), 1);
    } else {
        ::unsetenv("QUILLORY_THREADS");
    }
}

TEST(ChunkThreads, EveryPieceRunsOnceAndTheEarliestFailureIsRethrown) {
    for (const unsigned threads : {1U, 2U, 5U}) {
        for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{100}}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(count) + " pieces");
            std::vector<std::atomic<int>> runs(count);
            data::RunChunks(threads, count, [&](std::size_t i) { ++runs[i]; });
            for (std::size_t i = 0; i < count; ++i) {
                EXPECT_EQ(runs[i].load(), 1) << i;
            }
        }
        // Pieces 70 and 7 fail; whichever thread ends first, piece 7's failure is the one the caller sees.
        std::string seen;
        try {
            data::RunChunks(threads, 100, [](std::size_t i) {
                if (i == 70 || i == 7) {
                    throw std::runtime_error("piece " + std::to_string(i));
                }
            });
        } catch (const std::runtime_error& e) {
            seen = e.what();
        }
        EXPECT_EQ(seen, "piece 7") << threads;
    }
}

} // namespace
} // namespace quillory::test
