#include "ThreadCount.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace quillory {

unsigned ThreadsFromEnvironment() {
    if (const char* text = std::getenv("QUILLORY_THREADS"); text != nullptr && *text != '\0') {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (*end == '\0' && value >= 1 && value <= 256) {
            return static_cast<unsigned>(value);
        }
    }
    return std::max(1U, std::thread::hardware_concurrency());
}

} // namespace quillory
