#include "PrefaultPages.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace quillory::data {

void PrefaultPages(void* buffer, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    static const auto kPage = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(buffer);
    // Whole pages only: the pages at the ends may hold other data.
    const std::uintptr_t first = (start + kPage - 1) / kPage * kPage;
    const std::uintptr_t last = (start + bytes) / kPage * kPage;
    if (buffer != nullptr && first < last) {
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
    }
#else
    (void)buffer;
    (void)bytes;
#endif
}

} // namespace quillory::data
