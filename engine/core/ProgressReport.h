#pragma once

#include <chrono>
#include <cstdint>

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

private:
    void Send();

    const StartProgressCallback& m_callback;
    StartProgress m_progress;
    Clock::time_point m_sent;
};

} // namespace quillory
