#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "DataSet.h"
#include "Fingerprint.h"
#include "MovieRecord.h"
#include "RatingIndex.h"

// A binary copy of what the engine keeps of the data files, so that a start on unchanged data reads no text. It is
// keyed by the data's fingerprint, checksummed, and never trusted: a file that is stale, cut short, damaged or of
// impossible sizes is ignored and made again.
namespace quillory::data {

// The data as the engine holds it after loading.
struct Snapshot {
    std::vector<MovieRecord> movies;
    std::vector<int> users; // data user ids by dense index
    CRatingIndex ratings;   // the data's ratings by user index, items by catalogue index
};

// The snapshot of freshly loaded data, taking its vectors. A catalogue larger than the rating index can tell apart:
// CMException naming the movies file.
Snapshot BuildSnapshot(DataSet&& data);

// Loads the snapshot at `path` if it was made from data with this fingerprint and is valid in every respect.
// Never throws for a bad file.
bool LoadSnapshot(const std::filesystem::path& path, const DataFingerprint& fingerprint, Snapshot& out);

// Writes the snapshot atomically beside the store; an existing file at `path` is replaced only when it is a
// snapshot. Throws std::runtime_error saying why nothing was written.
void SaveSnapshot(const std::filesystem::path& path, const std::string& fingerprint, const Snapshot& snapshot);

} // namespace quillory::data
