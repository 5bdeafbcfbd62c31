#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quillory::data {

// Cuts `text` into pieces of whole lines: a piece starts at the first line start at or after each multiple of
// `chunkBytes` (at least 1), so every piece but the last ends with '\n', and no line, nor a CRLF, is ever cut.
// Returns the offsets where the pieces start, in increasing order, followed by the text's length.
std::vector<std::size_t> ChunkBounds(std::string_view text, std::size_t chunkBytes);

// The number of lines in a piece of whole lines: its line ends, and one more when it ends in a line without one.
std::uint32_t CountLines(std::string_view piece);

} // namespace quillory::data
