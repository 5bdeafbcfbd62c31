#pragma once

#include <cstddef>

namespace quillory::data {

// Has the system give the pages of `bytes` at `buffer` (reserved, not yet written) their memory now, in one call,
// instead of one page fault at a time while they are first written; several threads may prefault parts of one
// buffer at once. Only a request: nothing is written, and a system that cannot leaves the pages to their faults.
void PrefaultPages(void* buffer, std::size_t bytes);

} // namespace quillory::data
