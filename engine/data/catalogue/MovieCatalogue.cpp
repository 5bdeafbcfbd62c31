#include "MovieCatalogue.h"

#include <bit>

namespace quillory::data {

std::vector<std::string_view> GenreNamesOf(GenreSet set, const std::vector<std::string>& table) {
    std::vector<std::string_view> names;
    for (; set != 0; set &= set - 1) {
        const auto bit = static_cast<std::size_t>(std::countr_zero(set));
        if (bit < table.size()) {
            names.emplace_back(table[bit]);
        }
    }
    return names;
}

} // namespace quillory::data
