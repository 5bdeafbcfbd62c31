#pragma once

#include <charconv>
#include <string_view>

// Whole numbers in the fields of the data files, read without locale or streams.
namespace quillory::data {

// A whole field as a number; false for anything else (blanks, signs '+', fractions, overflow).
template <typename Int> bool ParseInteger(std::string_view field, Int& out) {
    if (field.empty()) {
        return false;
    }
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), out);
    return error == std::errc() && end == field.data() + field.size();
}

class CLineErrors;

// A movie or user id: a whole number from 1 to 2^31 - 1. Anything else fails the line, naming `what`.
int ParseId(const CLineErrors& errors, std::string_view field, const char* what);

// A timestamp: a whole number of seconds. Anything else fails the line.
long long ParseTimestamp(const CLineErrors& errors, std::string_view field);

} // namespace quillory::data
