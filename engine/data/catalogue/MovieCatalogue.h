#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "MovieRecord.h"

namespace quillory::data {

// What a catalogue file holds: its movies in file order, and the genre table their genre sets refer to.
struct MovieCatalogue {
    std::vector<MovieRecord> movies;
    std::vector<std::string> genres; // by bit of GenreSet: sorted by bytes, each name once
};

// The names of the genres in `set`, in the table's order; empty for a movie without genres. A bit past the end of
// `table` names nothing.
std::vector<std::string_view> GenreNamesOf(GenreSet set, const std::vector<std::string>& table);

} // namespace quillory::data
