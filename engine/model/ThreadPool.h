#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace quillory::model {

// A few worker threads that run one parallel loop at a time. Training splits its loops into chunks whose bounds
// do not depend on the thread count, and each chunk's result (its rows, its partial sum) into a slot of its own,
// so that the same data gives the same bits on any number of threads; which thread runs a chunk does not matter.
// A pool of our own over std::jthread: the loops are few and coarse, so this needs no scheduler, no compiler flag
// and no library, and it behaves the same under the sanitizers.
class CThreadPool {
public:
    // `threads` counts the calling thread: 1 runs everything on the caller, with no worker at all.
    explicit CThreadPool(unsigned threads);
    ~CThreadPool();
    CThreadPool(const CThreadPool&) = delete;
    CThreadPool& operator=(const CThreadPool&) = delete;

    unsigned Threads() const { return static_cast<unsigned>(m_workers.size()) + 1; }

    // Calls body(chunk, thread) once for every chunk in 0..chunks-1 and returns when all have run; `thread` is
    // below Threads() and no two calls running at once share it (for per-thread workspaces). The first exception
    // a chunk throws is rethrown here once every running chunk has finished.
    void Run(std::size_t chunks, const std::function<void(std::size_t chunk, unsigned thread)>& body);

private:
    void Work(std::stop_token stop, unsigned thread);
    void RunChunks(unsigned thread);

    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::condition_variable m_done;
    const std::function<void(std::size_t, unsigned)>* m_body = nullptr;
    std::size_t m_chunks = 0;
    std::size_t m_next = 0;
    // Changed under the mutex; read without it too, by a thread that waits a little before it sleeps.
    std::atomic<std::size_t> m_generation = 0;
    std::atomic<unsigned> m_busy = 0;
    std::exception_ptr m_error;
    std::vector<std::jthread> m_workers;
};

// Calls body(first, last) for the rows [0, count) in chunks of `perChunk` rows, on `threads`, or on the calling
// thread where that is null. The chunks do not depend on the thread count.
void RunOverRows(CThreadPool* threads, std::size_t count, std::size_t perChunk,
                 const std::function<void(std::size_t first, std::size_t last)>& body);

} // namespace quillory::model
