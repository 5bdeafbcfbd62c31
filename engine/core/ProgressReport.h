#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>

#include "MovieTable.h"

namespace quillory {

// Passes a start's progress on to the caller's callback (none: nothing is passed on), on the calling thread: a
// stage's first and last report always, the ones between no more often than every kInterval.
class CProgressReport {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kInterval = std::chrono::milliseconds(100);

    explicit CProgressReport(const StartProgressCallback& callback) : m_callback(callback) {}

    // Starts `stage` of `total` steps: reports 0 done.
    void Begin(const char* stage, std::uint64_t total);
    // Reports `done` steps (held to the stage's total, and never below what was reported) when kInterval has passed
    // since the last report.
    void Update(std::uint64_t done);
    // Ends the stage: reports every step done.
    void End();

    // Runs work(done) on a thread of its own while this thread goes on reporting, as Update(done) would, until it
    // has ended, so that a caller who repaints at each report stays painted through a long step; then rethrows what
    // the work threw. Without a callback the work runs here.
    template <typename Work> void WhileReporting(Work&& work) {
        std::atomic<std::uint64_t> done{m_progress.done};
        if (!m_callback) {
            work(done);
            return;
        }
        std::future<void> ended = std::async(std::launch::async, [&] { work(done); });
        while (ended.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            Update(done.load());
        }
        ended.get();
        Update(done.load());
    }

private:
    void Send();

    const StartProgressCallback& m_callback;
    StartProgress m_progress;
    Clock::time_point m_sent;
};

} // namespace quillory
