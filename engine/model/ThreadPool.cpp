#include "ThreadPool.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

#include "RatingModel.h"
#include "ThreadCount.h"

namespace quillory::model {

namespace {

// Training runs a few loops a millisecond apart with a little serial work between them; a thread put to sleep
// between two of them takes longer to wake than the gap. So a thread waiting for the pool first watches for the
// change it waits for, for about this long, and sleeps only after that.
constexpr auto kWatchBeforeSleeping = std::chrono::microseconds(200);

template <class Done> void Watch(Done done) {
    const auto until = std::chrono::steady_clock::now() + kWatchBeforeSleeping;
    for (unsigned round = 0; !done(); ++round) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        if (round % 64 == 63 && std::chrono::steady_clock::now() >= until) {
            return;
        }
    }
}

} // namespace

unsigned TrainingThreads() {
    return ThreadsFromEnvironment();
}

CThreadPool::CThreadPool(unsigned threads) {
    const unsigned workers = std::max(1u, threads) - 1;
    m_workers.reserve(workers);
    try {
        for (unsigned t = 0; t < workers; ++t) {
            m_workers.emplace_back([this, t](const std::stop_token& stop) { Work(stop, t + 1); });
        }
    } catch (const std::system_error&) {
        // Fewer threads than asked (the system has no more to give) train the same model, only slower.
    }
}

CThreadPool::~CThreadPool() {
    for (std::jthread& worker : m_workers) {
        worker.request_stop();
    }
    m_wake.notify_all();
    // The jthreads join as the vector is destroyed.
}

void CThreadPool::Run(std::size_t chunks, const std::function<void(std::size_t, unsigned)>& body) {
    if (chunks == 0) {
        return;
    }
    if (m_workers.empty() || chunks == 1) {
        for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
            body(chunk, 0);
        }
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_body = &body;
        m_chunks = chunks;
        m_next = 0;
        m_error = nullptr;
        m_busy = 1;
        ++m_generation;
    }
    m_wake.notify_all();
    RunChunks(0);
    {
        std::lock_guard lock(m_mutex);
        --m_busy;
    }
    Watch([this] { return m_busy.load() == 0; });
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_busy == 0; });
    m_body = nullptr;
    if (m_error) {
        std::rethrow_exception(std::exchange(m_error, nullptr));
    }
}

void CThreadPool::RunChunks(unsigned thread) {
    for (;;) {
        std::size_t chunk = 0;
        {
            std::lock_guard lock(m_mutex);
            // After a failure the remaining chunks are skipped: the loop's result is thrown away anyway.
            if (m_next >= m_chunks || m_error) {
                return;
            }
            chunk = m_next++;
        }
        try {
            (*m_body)(chunk, thread);
        } catch (...) {
            std::lock_guard lock(m_mutex);
            if (!m_error) {
                m_error = std::current_exception();
            }
        }
    }
}

void CThreadPool::Work(std::stop_token stop, unsigned thread) {
    std::size_t seen = 0;
    for (;;) {
        Watch([&] { return m_generation.load() != seen || stop.stop_requested(); });
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, stop, [&] { return m_generation != seen && m_body != nullptr; })) {
                return;
            }
            seen = m_generation;
            ++m_busy;
        }
        RunChunks(thread);
        std::lock_guard lock(m_mutex);
        if (--m_busy == 0) {
            m_done.notify_all();
        }
    }
}

void RunOverRows(CThreadPool* threads, std::size_t count, std::size_t perChunk,
                 const std::function<void(std::size_t first, std::size_t last)>& body) {
    CThreadPool serial(1);
    CThreadPool& pool = threads != nullptr ? *threads : serial;
    pool.Run((count + perChunk - 1) / perChunk,
             [&](std::size_t chunk, unsigned) { body(chunk * perChunk, std::min(count, (chunk + 1) * perChunk)); });
}

} // namespace quillory::model
