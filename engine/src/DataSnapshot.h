#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "DataSet.h"

// A binary copy of what the engine keeps of the data files, so that a start on unchanged data reads no text. It is
// keyed by the data's fingerprint (the layout, and a hash and the length of every file's bytes), checksummed, and
// never trusted: a file that is stale, cut short, damaged or of impossible sizes is ignored and made again.
namespace quillory::data {

// The data as the engine holds it after loading.
struct Snapshot {
    std::vector<MovieRecord> movies;
    std::vector<int> users;             // data user ids by dense index
    std::vector<std::uint64_t> offsets; // user u's entries are [offsets[u], offsets[u + 1])
    std::vector<std::uint32_t> entries; // (catalogue index << 3) | stars, each user's sorted by catalogue index
};

// The catalogue an entry's 29 bits of index can hold.
constexpr std::size_t kMaxMovies = std::size_t{1} << 29;

// The data files' fingerprint, the same string LoadDataSet gives, computed by hashing the files' bytes without
// parsing them (a pass at memory speed). Also the files' total length, which bounds any snapshot of them.
// nullopt when a file is not a regular file or changes while it is read: the caller then loads the text, whose
// reader reports what is wrong.
struct DataFingerprint {
    std::string text;
    std::uint64_t bytes = 0;
};
std::optional<DataFingerprint> FingerprintDataFiles(const Manifest& manifest);

// Loads the snapshot at `path` if it was made from data with this fingerprint and is valid in every respect.
// Never throws for a bad file.
bool LoadSnapshot(const std::filesystem::path& path, const DataFingerprint& fingerprint, Snapshot& out);

// Writes the snapshot atomically beside the store; an existing file at `path` is replaced only when it is a
// snapshot. Throws std::runtime_error saying why nothing was written.
void SaveSnapshot(const std::filesystem::path& path, const std::string& fingerprint, const Snapshot& snapshot);

} // namespace quillory::data
