// The ranking model's cache file, beside the prediction model's: a header with the fingerprint of the data, the
// settings it was trained with and every count the rest follows from, so that a reader knows the exact length (and
// refuses a wrong one) before it allocates anything; then the arrays as ForEachArray lists them; a checksum last (the
// frame is DerivedFileHeader's).
//
//   magic "QLRRANKM", version, fingerprint length and bytes, settings length and bytes,
//   users, items, pool (u32), ratings, links (u64), the arrays, checksum (u64).
//
// The items' taste factors are the last array, as many an item as the settings say; their Gram matrix is not kept
// but computed again on loading.

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <numeric>
#include <stdexcept>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "DerivedFileHeader.h"
#include "RankingImpl.h"

namespace quillory::model {

namespace {

constexpr DerivedFileFormat kFormat{"QLRRANKM", 2};

struct Counts {
    std::uint32_t users = 0;
    std::uint32_t items = 0;
    std::uint32_t pool = 0;
    std::uint64_t ratings = 0;
    std::uint64_t links = 0;
    std::uint64_t factors = 0; // not in the file: items times the settings' factors
};
constexpr std::size_t kCountsSize = 3 * sizeof(std::uint32_t) + 2 * sizeof(std::uint64_t);

// Every array after the header, in file order, with its length: what the length check, the writer and the reader
// all follow. array(vector, count) is called once for each.
template <class Model, class Visit> void ForEachArray(Model& m, const Counts& c, Visit&& array) {
    array(m.rated, std::uint64_t(c.items));
    array(m.liked, std::uint64_t(c.items));
    array(m.order, std::uint64_t(c.items));
    array(m.start, std::uint64_t(c.items) + 1);
    array(m.neighbour, c.links);
    array(m.weight, c.links);
    array(m.factors, c.factors);
}

// Whether the arrays of a file with these counts take exactly `body` bytes.
template <class Model> bool ArraysTake(const Counts& c, std::uint64_t body) {
    std::uint64_t total = 0;
    bool ok = true;
    Model shape; // only for the element types
    ForEachArray(shape, c, [&](auto& values, std::uint64_t count) {
        std::uint64_t size = 0;
        ok = ok && !__builtin_mul_overflow(count, sizeof values[0], &size) &&
             !__builtin_add_overflow(total, size, &total);
    });
    return ok && total == body;
}

// Whether each item's links are as the model makes them (RankingNeighbours.cpp): to other items within the model,
// none twice, with finite weights of zero or more, the strongest first and of equal weights the lower item first.
// The offsets must be checked first. Any other list would have the calls name an item as like itself, or one twice.
template <class Model> bool ListsAsMade(const Model& m, std::uint32_t items) {
    std::vector<std::uint32_t> listedBy(items, kNoItem); // the item whose list named it last
    for (std::uint32_t i = 0; i < items; ++i) {
        for (std::uint64_t k = m.start[i]; k < m.start[i + 1]; ++k) {
            const std::uint32_t j = m.neighbour[k];
            const float w = m.weight[k];
            if (j >= items || j == i || listedBy[j] == i || !std::isfinite(w) || w < 0.0F) {
                return false;
            }
            if (k > m.start[i] && (w > m.weight[k - 1] || (w == m.weight[k - 1] && j < m.neighbour[k - 1]))) {
                return false;
            }
            listedBy[j] = i;
        }
    }
    return true;
}

// Whether what was read hangs together: offsets from 0 to the links, no item with more links than the settings
// keep, the lists as the model makes them, finite factors, the order every item once, no item liked more often than
// rated.
template <class Model> bool Consistent(const Model& m, const Counts& c) {
    if (m.start.front() != 0 || m.start.back() != c.links) {
        return false;
    }
    for (std::uint32_t j = 0; j < c.items; ++j) {
        if (m.start[j + 1] < m.start[j] || m.start[j + 1] - m.start[j] > m.settings.neighbours ||
            m.liked[j] > m.rated[j]) {
            return false;
        }
    }
    if (!ListsAsMade(m, c.items) ||
        !std::all_of(m.factors.begin(), m.factors.end(), [](float x) { return std::isfinite(x); })) {
        return false;
    }
    std::vector<char> seen(c.items, 0);
    for (std::uint32_t j : m.order) {
        if (j >= c.items || seen[j]) {
            return false;
        }
        seen[j] = 1;
    }
    std::uint64_t ratings = 0;
    for (std::uint32_t n : m.rated) {
        ratings += n;
    }
    return ratings == c.ratings && m.allLiked == std::accumulate(m.liked.begin(), m.liked.end(), std::uint64_t{0});
}

} // namespace

void CRankingModel::Save(const std::filesystem::path& path, std::string_view fingerprint) const {
    const Impl& m = *m_impl;
    if (!m.Trained()) {
        throw std::runtime_error("the ranking model has not been trained");
    }
    Counts counts{m.numUsers,   m.numItems,         m.pool,
                  m.numRatings, m.neighbour.size(), std::uint64_t(m.numItems) * m.settings.factors};
    const std::string describe = m.settings.Describe();
    WriteDerivedFile(path, kFormat, {fingerprint, describe}, [&](CByteWriter& out) {
        out.PutValue(counts.users);
        out.PutValue(counts.items);
        out.PutValue(counts.pool);
        out.PutValue(counts.ratings);
        out.PutValue(counts.links);
        ForEachArray(m, counts, [&](const auto& values, std::uint64_t count) {
            if (values.size() != count) {
                throw std::runtime_error("the ranking model's arrays do not match its sizes");
            }
            out.PutVector(values);
        });
    });
}

bool CRankingModel::Load(const std::filesystem::path& path, std::string_view fingerprint,
                         std::optional<ModelShape> expected) {
    try {
        return LoadChecked(path, fingerprint, expected);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CRankingModel::LoadChecked(const std::filesystem::path& path, std::string_view fingerprint,
                                std::optional<ModelShape> expected) {
    const std::string describe = m_impl->settings.Describe();
    CDerivedFileReader file;
    if (!file.Open(path) ||
        !file.ReadHeader(kFormat, {DerivedKey::Exactly(fingerprint), DerivedKey::Exactly(describe)}, kCountsSize)) {
        return false;
    }
    CByteReader in = file.Counts();
    Counts c;
    if (!in.GetValue(c.users) || !in.GetValue(c.items) || !in.GetValue(c.pool) || !in.GetValue(c.ratings) ||
        !in.GetValue(c.links)) {
        return false;
    }
    const RankingSettings& s = m_impl->settings;
    if (c.pool > c.items || c.pool > s.newcomerPool || c.links > std::uint64_t(c.items) * s.neighbours ||
        __builtin_mul_overflow(std::uint64_t(c.items), std::uint64_t(s.factors), &c.factors)) {
        return false;
    }
    if (expected && (c.users != expected->users || c.items != expected->items ||
                     (expected->ratings && c.ratings > *expected->ratings))) {
        return false;
    }
    if (!ArraysTake<Impl>(c, file.BodySize())) {
        return false;
    }
    // The arrays are read straight into place, the checksum taken along and compared before the model is used.
    Impl loaded;
    loaded.settings = s;
    loaded.numUsers = c.users;
    loaded.numItems = c.items;
    loaded.numRatings = c.ratings;
    loaded.pool = c.pool;
    bool ok = true;
    ForEachArray(loaded, c, [&](auto& values, std::uint64_t count) {
        ok = ok && file.Body().GetVector(values, static_cast<std::size_t>(count));
    });
    if (!ok || !file.ChecksumRight()) {
        return false;
    }
    loaded.allLiked = std::accumulate(loaded.liked.begin(), loaded.liked.end(), std::uint64_t{0});
    if (!Consistent(loaded, c)) {
        return false;
    }
    loaded.BuildGram();
    *m_impl = std::move(loaded);
    return true;
}

} // namespace quillory::model
