#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

// Lines of the data files cut into their fields.
namespace quillory::data {

// The most fields of a line any layout reads; more are counted, not kept.
constexpr std::size_t kMaxFields = 32;
using FieldArray = std::array<std::string_view, kMaxFields>;

// Splits `line` at every `separator`. Returns the number of fields; fields past `kMaxFields` are counted, not kept.
std::size_t Split(std::string_view line, std::string_view separator, FieldArray& out);

// The message for a line with the wrong number of fields: "expected 4 fields separated by "::" (...), found 3.".
std::string FieldCountText(std::size_t expected, std::string_view separator, std::string_view names, std::size_t found);

} // namespace quillory::data
