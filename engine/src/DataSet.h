#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The data files the engine reads: the manifest that names them, the catalogue and the ratings, in the three public
// layouts users already have (see docs/data-files.md). Every problem with a file leaves as CMException naming the
// file, the line and what was expected; nothing is ever half-loaded.
namespace quillory::data {

// One movie of the catalogue, in catalogue order (catalogue number = position + 1).
struct MovieRecord {
    int id = 0;              // the movie id of the data files; ratings refer to it
    std::string title;       // as listed, UTF-8, e.g. "Usual Suspects, The (1995)"
    std::string name;        // without the trailing year, leading article restored: "The Usual Suspects"
    std::string releaseDate; // the date the data gives, else the year from the title, else empty
    std::string url;         // as given, or built from the ids
};

// One rating of the ratings file.
struct RatingRecord {
    int user = 0;                // the user id of the data files
    int movie = 0;               // the movie id of the data files
    int stars = 0;               // 1..5 after the layout's mapping (never 0)
    float value = 0.0F;          // the rating mapped linearly onto [1, 5], unrounded
    long long timestamp = 0;     // seconds since 1970 as the file gives them
    std::uint32_t item = 0;      // dense movie index: catalogue number - 1
    std::uint32_t userIndex = 0; // dense user index: users numbered 0.. in order of first appearance in this file
};

// The manifest: which layout, and the files (already resolved against the manifest's folder).
struct Manifest {
    std::filesystem::path file;      // the manifest itself
    std::filesystem::path movies;    // the catalogue
    std::filesystem::path ratings;   // the ratings
    std::filesystem::path links;     // movielens-csv only: movie ids to IMDb ids; empty otherwise
    std::filesystem::path store;     // the SQLite store of accounts and entered ratings (may not exist yet);
                                     // empty for a server store
    std::string storeUri;            // the server store's address ("postgresql://..."); empty for a store file
    std::filesystem::path cacheBase; // derived data: the model cache is cacheBase + ".model", the data snapshot
                                     // cacheBase + ".snapshot"
    std::string format;              // "movielens-100k", "movielens-csv" or "movietweetings"
};

struct Surroundings;

// Reads the manifest at `path`. A backslash in `path` is a path separator ("MovieData\files.txt"); a relative path
// is tried against each folder of ManifestFolders in turn (the working directory, the program's folder, then the XDG
// data folders and the installation's share/quillory). The store and the cache stay beside the manifest where that
// folder is writable and not installed data; otherwise they go to the user's XDG data and cache folders, which are
// created owner-only. A store or cache path that falls on a file the manifest reads is refused.
Manifest ReadManifest(const std::string& path);
Manifest ReadManifest(const std::string& path, const Surroundings& surroundings);

// Everything the data files hold.
struct DataSet {
    Manifest manifest;
    std::vector<MovieRecord> movies;
    std::vector<RatingRecord> ratings; // in file order
    std::vector<int> users;            // data user ids by dense index (order of first appearance)
    std::string fingerprint;           // identifies the bytes of every data file and the layout
};

// Loads the catalogue, the links (movielens-csv) and the ratings the manifest names.
DataSet LoadDataSet(const Manifest& manifest);

// The pieces of a data set's fingerprint: "format:<format>;", then "<role>:<hash as 16 hex digits>:<size>;" for each
// data file in the order they are read. The text reader and the snapshot build it alike.
std::string FingerprintStart(const std::string& format);
std::string FingerprintPart(std::string_view role, std::uint64_t hash, std::uint64_t size);

// Loads a ratings file in `format`'s ratings layout against `catalogue` (e.g. a held-out test file). `userIndex`
// numbers the users of this file in order of first appearance; `item` indexes `catalogue`.
std::vector<RatingRecord> LoadRatingsFile(const std::filesystem::path& path, const std::string& format,
                                          const std::vector<MovieRecord>& catalogue);

} // namespace quillory::data
