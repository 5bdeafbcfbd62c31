#pragma once

namespace quillory {

// The number of threads the engine's parallel work uses: QUILLORY_THREADS when it holds a number from 1 to 256, else
// the machine's cores. Loading and training both follow it.
unsigned ThreadsFromEnvironment();

} // namespace quillory
