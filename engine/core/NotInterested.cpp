#include "NotInterested.h"

#include <algorithm>

namespace quillory {

namespace {

constexpr auto kByItem = [](const auto& mark, std::uint32_t item) { return mark.item < item; };

} // namespace

void CNotInterested::Apply(long user, std::uint32_t item, bool hidden, std::int64_t sequence) {
    const auto found = m_hidden.find(user);
    if (!hidden) {
        if (found == m_hidden.end()) {
            return;
        }
        std::vector<Mark>& marks = found->second;
        const auto at = std::lower_bound(marks.begin(), marks.end(), item, kByItem);
        if (at != marks.end() && at->item == item) {
            marks.erase(at);
        }
        if (marks.empty()) {
            m_hidden.erase(found);
        }
        return;
    }
    std::vector<Mark>& marks = found == m_hidden.end() ? m_hidden[user] : found->second;
    const auto at = std::lower_bound(marks.begin(), marks.end(), item, kByItem);
    if (at != marks.end() && at->item == item) {
        at->sequence = sequence; // read again: the store's number stands
    } else {
        marks.insert(at, Mark{item, sequence});
    }
}

bool CNotInterested::IsHidden(long user, std::uint32_t item) const {
    const auto found = m_hidden.find(user);
    if (found == m_hidden.end()) {
        return false;
    }
    const std::vector<Mark>& marks = found->second;
    const auto at = std::lower_bound(marks.begin(), marks.end(), item, kByItem);
    return at != marks.end() && at->item == item;
}

std::vector<std::uint32_t> CNotInterested::Hidden(long user) const {
    std::vector<std::uint32_t> items;
    if (const auto found = m_hidden.find(user); found != m_hidden.end()) {
        items.reserve(found->second.size());
        for (const Mark& mark : found->second) {
            items.push_back(mark.item);
        }
    }
    return items;
}

std::vector<std::uint32_t> CNotInterested::NewestFirst(long user) const {
    const auto found = m_hidden.find(user);
    if (found == m_hidden.end()) {
        return {};
    }
    std::vector<Mark> marks = found->second;
    std::sort(marks.begin(), marks.end(), [](const Mark& a, const Mark& b) { return a.sequence > b.sequence; });
    std::vector<std::uint32_t> items;
    items.reserve(marks.size());
    for (const Mark& mark : marks) {
        items.push_back(mark.item);
    }
    return items;
}

} // namespace quillory
