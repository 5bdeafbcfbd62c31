#pragma once

#include <cstddef>
#include <functional>

namespace quillory::data {

// The number of threads loading uses: QUILLORY_THREADS when it holds a number from 1 to 256, else the machine's
// cores (the same rule as training's).
unsigned LoadingThreads();

// Runs `task(0)` .. `task(count - 1)`, each once, on up to `threads` threads (the calling one among them); the
// threads take the indices in increasing order. Returns when every task has ended; an exception one of them threw
// is then rethrown (the one of the lowest index, when several threw). With `watch`, the calling thread runs no task
// but calls watch(tasks ended so far) at least every 50 ms, the last time with all ended (unless no thread could be
// started: then it runs them itself and watches nothing).
void RunChunks(unsigned threads, std::size_t count, const std::function<void(std::size_t)>& task,
               const std::function<void(std::size_t)>& watch = {});

} // namespace quillory::data
