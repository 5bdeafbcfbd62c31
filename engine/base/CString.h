#pragma once

#include <string>

#include <fmt/printf.h>

// The program's owning text type: UTF-8 text in a std::string.
using CString = std::string;

// printf-style formatting of a CString ("%d", "%f", "%s" ...), type-checked by {fmt}.
template <typename... Args> CString FormatString(const char* format, const Args&... args) {
    return fmt::sprintf(format, args...);
}
