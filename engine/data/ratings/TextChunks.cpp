#include "TextChunks.h"

#include <algorithm>
#include <cstring>

namespace quillory::data {

std::vector<std::size_t> ChunkBounds(std::string_view text, std::size_t chunkBytes) {
    chunkBytes = std::max<std::size_t>(chunkBytes, 1);
    std::vector<std::size_t> bounds{0};
    for (std::size_t at = chunkBytes; at < text.size(); at += chunkBytes) {
        // The first line start at or after `at` is right after the first line end at or after `at - 1`; a line
        // longer than a piece may already have carried the last piece past it.
        const std::size_t from = std::max(at - 1, bounds.back());
        const auto* newline = static_cast<const char*>(std::memchr(text.data() + from, '\n', text.size() - from));
        const std::size_t bound =
            newline == nullptr ? text.size() : static_cast<std::size_t>(newline - text.data()) + 1;
        if (bound >= text.size()) {
            break;
        }
        bounds.push_back(bound);
    }
    bounds.push_back(text.size());
    return bounds;
}

std::uint32_t CountLines(std::string_view piece) {
    // A plain loop the compiler turns into wide compares: a few bytes a cycle, far ahead of the parse.
    std::uint32_t count = 0;
    for (const char c : piece) {
        count += c == '\n' ? 1U : 0U;
    }
    if (!piece.empty() && piece.back() != '\n') {
        ++count;
    }
    return count;
}

} // namespace quillory::data
