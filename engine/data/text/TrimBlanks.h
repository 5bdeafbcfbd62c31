#pragma once

#include <string_view>

namespace quillory::data {

// `text` without blanks (spaces and tabs) at either end.
std::string_view TrimBlanks(std::string_view text);

} // namespace quillory::data
