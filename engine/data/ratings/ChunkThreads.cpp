#include "ChunkThreads.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "ThreadCount.h"

namespace quillory::data {

unsigned LoadingThreads() {
    return ThreadsFromEnvironment();
}

void RunChunks(unsigned threads, std::size_t count, const std::function<void(std::size_t)>& task,
               const std::function<void(std::size_t)>& watch) {
    std::atomic<std::size_t> next{0};
    std::vector<std::exception_ptr> failures(count);
    std::mutex endedLock;
    std::condition_variable endedSignal;
    std::size_t ended = 0;
    const auto work = [&]() noexcept {
        for (std::size_t i = next++; i < count; i = next++) {
            try {
                task(i);
            } catch (...) {
                failures[i] = std::current_exception();
            }
            if (watch) {
                const std::lock_guard<std::mutex> hold(endedLock);
                ++ended;
                endedSignal.notify_one();
            }
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t wanted = std::min<std::size_t>(std::max(1U, threads), count);
    // A watching caller runs no task itself, so that it is free to watch: one helper more.
    for (std::size_t t = watch ? 0 : 1; t < wanted; ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer threads than asked only read slower
        }
    }
    if (watch && !helpers.empty()) {
        std::unique_lock<std::mutex> hold(endedLock);
        for (std::size_t seen = 0; seen < count;) {
            endedSignal.wait_for(hold, std::chrono::milliseconds(50), [&] { return ended > seen; });
            seen = ended;
            hold.unlock();
            watch(seen); // the last time with every task ended
            hold.lock();
        }
    } else {
        work();
    }
    for (std::thread& helper : helpers) {
        helper.join();
    }
    for (const std::exception_ptr& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}

} // namespace quillory::data
