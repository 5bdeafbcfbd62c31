#include "Fields.h"

#include <fmt/format.h>

namespace quillory::data {

std::size_t Split(std::string_view line, std::string_view separator, FieldArray& out) {
    std::size_t count = 0;
    if (separator.size() == 1) {
        // Fields are short: a plain scan beats a library search call per field.
        const char sep = separator[0];
        std::size_t start = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == sep) {
                if (count < kMaxFields) {
                    out[count] = line.substr(start, i - start);
                }
                ++count;
                start = i + 1;
            }
        }
        if (count < kMaxFields) {
            out[count] = line.substr(start);
        }
        return count + 1;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t at = line.find(separator, start);
        const std::string_view field =
            line.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start);
        if (count < kMaxFields) {
            out[count] = field;
        }
        ++count;
        if (at == std::string_view::npos) {
            return count;
        }
        start = at + separator.size();
    }
}

std::string FieldCountText(std::size_t expected, std::string_view separator, std::string_view names,
                           std::size_t found) {
    return fmt::format("expected {} fields separated by \"{}\" ({}), found {}.", expected,
                       separator == "\t" ? "TAB" : separator, names, found);
}

} // namespace quillory::data
