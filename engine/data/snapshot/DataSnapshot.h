#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "DataSet.h"
#include "EngineRules.h"
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
    std::vector<std::string> genres; // the genre table of the movies' genre sets (see GenreSet)
    std::vector<int> users;          // data user ids by dense index
    CRatingIndex ratings;            // the data's ratings by user index, items by catalogue index
};

// The snapshot of freshly loaded data, taking its catalogue and genre table, its users and the ratings' order in the
// index
// (`data.order`, whose positions become the index's entries); the ratings stay in `data` for the caller. A catalogue
// larger than the rating index can tell apart: CMException naming the movies file.
Snapshot BuildSnapshot(DataSet& data);

// The data's user ids lie below this; the ids from here up are the store's accounts.
inline constexpr long kDataUserIdEnd = kFirstAccountId;

// Loads the snapshot at `path` if it was made from data with this fingerprint and is valid in every respect: a
// regular file of the user's own (CCacheFileReader); its header's counts within what the data files' sizes allow and
// adding up to the file's length, checked before anything is sized from them; the checksum right; movie ids 1 to
// 2^31-1 and data user ids 1 to below kDataUserIdEnd, none twice; every user with a rating; the ratings well formed;
// the texts UTF-8 without control characters; the genre table as the catalogue readers leave it (at most kMaxGenres
// names, none empty, sorted by their bytes, each some movie's) and no movie with a genre past its end. Never throws for
// a bad file: the caller reads the text instead.
bool LoadSnapshot(const std::filesystem::path& path, const DataFingerprint& fingerprint, Snapshot& out);
// The same, for a caller still hashing the data files: `sizes` holds their lengths (DataFileSizes), and
// madeFrom(saved), asked last, once the file is otherwise known to be sound, says whether `saved`, the fingerprint
// the snapshot was made from, is the data's.
bool LoadSnapshot(const std::filesystem::path& path, const DataFingerprint& sizes,
                  const std::function<bool(const std::string&)>& madeFrom, Snapshot& out);

// Writes the snapshot atomically beside the store; an existing file at `path` is replaced only when it is a
// snapshot. Throws std::runtime_error saying why nothing was written.
void SaveSnapshot(const std::filesystem::path& path, const std::string& fingerprint, const Snapshot& snapshot);

} // namespace quillory::data
