#include "ProgressReport.h"

#include <algorithm>

namespace quillory {

void CProgressReport::Begin(const char* stage, std::uint64_t total) {
    m_progress = StartProgress{stage, 0, total};
    Send();
}

void CProgressReport::Update(std::uint64_t done) {
    if (!m_callback) {
        return;
    }
    m_progress.done = std::clamp(done, m_progress.done, m_progress.total);
    if (Clock::now() - m_sent >= kInterval) {
        Send();
    }
}

void CProgressReport::End() {
    m_progress.done = m_progress.total;
    Send();
}

void CProgressReport::Send() {
    if (m_callback) {
        m_callback(m_progress);
        m_sent = Clock::now();
    }
}

} // namespace quillory
