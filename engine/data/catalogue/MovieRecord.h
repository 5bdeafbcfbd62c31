#pragma once

#include <string>

namespace quillory::data {

// One movie of the catalogue, in catalogue order (catalogue number = position + 1).
struct MovieRecord {
    int id = 0;              // the movie id of the data files; ratings refer to it
    std::string title;       // as listed, UTF-8, e.g. "Usual Suspects, The (1995)"
    std::string name;        // without the trailing year, leading article restored: "The Usual Suspects"
    std::string releaseDate; // the date the data gives, else the year from the title, else empty
    std::string url;         // as given, or built from the ids
};

} // namespace quillory::data
