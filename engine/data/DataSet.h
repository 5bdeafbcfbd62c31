#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Manifest.h"
#include "MovieRecord.h"
#include "RatingRecord.h"
#include "UserNumbering.h"

// The data files the engine reads: the catalogue and the ratings that a manifest names, in the three public layouts
// users already have (see docs/data-files.md). Every problem with a file leaves as CMException naming the file, the
// line and what was expected; nothing is ever half-loaded.
namespace quillory::data {

// Everything the data files hold.
struct DataSet {
    Manifest manifest;
    std::vector<MovieRecord> movies;
    std::vector<std::string> genres;   // the genre table of the movies' genre sets (see GenreSet)
    std::vector<RatingRecord> ratings; // in file order
    std::vector<int> users;            // data user ids by dense index (order of first appearance)
    IndexOrder order;                  // the ratings in the rating index's order
    std::string fingerprint;           // identifies the bytes of every data file and the layout (see Fingerprint.h)
};

// Loads the catalogue, the links (in a layout that needs them) and the ratings the manifest names. `progress`, when
// set, follows the parse of the ratings (see RatingsParsing::progress).
DataSet LoadDataSet(const Manifest& manifest, const std::function<void(std::size_t, std::size_t)>& progress = {});

// Loads a ratings file in `layout` against `catalogue` (e.g. a held-out test file). `userIndex` numbers the users of
// this file in order of first appearance; `item` indexes `catalogue`.
std::vector<RatingRecord> LoadRatingsFile(const std::filesystem::path& path, Layout layout,
                                          const std::vector<MovieRecord>& catalogue);

} // namespace quillory::data
