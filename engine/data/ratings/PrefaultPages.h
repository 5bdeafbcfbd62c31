#pragma once

#include <cstddef>

namespace quillory::data {

// Has the system give the pages of `bytes` at `buffer` (reserved, not yet written) their memory now, in one call,
// instead of one page fault at a time while they are first written; several threads may prefault parts of one
// buffer at once. Only a request: nothing is written, and a system that cannot leaves the pages to their faults.
void PrefaultPages(void* buffer, std::size_t bytes);

// Gives the system back the memory of the whole pages within `bytes` at `buffer`, a part of a large buffer that
// will not be read again (the pages at its ends may hold other data and are kept). The buffer stays allocated: the
// pages would read as zeros. Several threads may release parts of one buffer at once.
void ReleasePages(const void* buffer, std::size_t bytes);

} // namespace quillory::data
