#include "PrefaultPages.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace quillory::data {

namespace {

// Gives `advice` for the whole pages within the bytes: the pages at the ends may hold other data.
void AdviseWholePages(const void* buffer, std::size_t bytes, int advice) {
    static const auto kPage = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(buffer);
    const std::uintptr_t first = (start + kPage - 1) / kPage * kPage;
    const std::uintptr_t last = (start + bytes) / kPage * kPage;
    if (buffer != nullptr && first < last) {
        ::madvise(reinterpret_cast<void*>(first), last - first, advice);
    }
}

} // namespace

void PrefaultPages(void* buffer, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    AdviseWholePages(buffer, bytes, MADV_POPULATE_WRITE);
#else
    (void)buffer;
    (void)bytes;
#endif
}

void ReleasePages(const void* buffer, std::size_t bytes) {
    AdviseWholePages(buffer, bytes, MADV_DONTNEED);
}

} // namespace quillory::data
