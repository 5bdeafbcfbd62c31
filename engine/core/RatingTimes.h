#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "DataSet.h"
#include "Manifest.h"
#include "RatingIndex.h"

namespace quillory {

// When each rating of the data files was made. The rating index keeps 4 bytes a rating and no time, so the times
// live beside it, one per entry in the index's order, and in a derived file of their own (the times file of
// `cacheBase`, DerivedFileNames.h) keyed by the data's fingerprint. Only the list of a data user's own ratings needs
// them, so no start reads them: the first such list does, and rebuilds the file from the text when it is missing, stale
// or damaged.
class CRatingTimes {
public:
    CRatingTimes() = default;
    // The times of data with this fingerprint, read when first needed. An empty `cacheBase` keeps them in memory
    // only (the derived files' folder is not the user's own).
    CRatingTimes(const std::filesystem::path& cacheBase, std::string fingerprint);

    // Takes the times of freshly parsed ratings, in the order the rating index holds them (`data.order`), and keeps
    // them for later starts. A file that cannot be kept is reported on stderr, never fatal; the times then stay in
    // memory.
    void KeepFresh(const data::DataSet& data);

    // The times of the user's data ratings, in the order of his row of `index` (empty when he has none). The first
    // call that needs them reads the file, or the text of the data files when the file is not exactly right: data
    // files changed since the start, or unreadable now, give CMException with the data caption.
    std::span<const long long> OfUser(std::uint32_t user, const CRatingIndex& index, const data::Manifest& manifest);

private:
    // Writes the ratings' times, 8 bytes each, to `out` in the rating index's order.
    static void PlaceInto(const data::DataSet& data, unsigned char* out);
    bool Load(std::size_t count);
    void Save() const;
    // Writes the file of `count` times, which timesAt(first, n, out) puts in out[0 .. n) a block at a time.
    void Write(std::size_t count, const std::function<void(std::size_t, std::size_t, long long*)>& timesAt) const;

    std::filesystem::path m_path;
    std::string m_fingerprint;
    std::vector<long long> m_times; // by index entry, once loaded
    bool m_loaded = false;
};

} // namespace quillory
