// The model's cache file: what prediction and fold-in read, after a header that holds the fingerprint of what it was
// trained on and every count the rest of the file follows from, so that a reader knows the file's exact length (and
// can refuse a wrong one) before it allocates anything. A checksum ends the file (the frame is DerivedFileHeader's).
//
//   magic "QLRMODEL", version, fingerprint length and bytes,
//   users, items, factors, sweeps (u32), implicit, neighbours (u8), neighbour links, rated entries, packed bytes of
//   the neighbour lists (u64), mean (f32),
//   the parameter arrays as ForEachPart lists them, checksum (u64).
//
// The model holds one averaged sample (see AverageSamples), so the factors are one row per user and item, beside each
// item's spread over the samples, which fold-in reads. The neighbour lists are packed: each row's entry count, then
// its sorted indices as gaps from the one before, as variable-length numbers (7 bits a byte), and the weights as
// 16-bit codes, the precision the trained model keeps them at too. Of the users' rated lists only the residuals are
// in the file, as 16-bit codes in the lists' order: the items are the data's ratings, which a load is handed (their
// count is in the header, to check those against).

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "DerivedFileHeader.h"
#include "RatingModelImpl.h"
#include "RatingRows.h"
#include "ThreadPool.h"

namespace quillory::model {

namespace {

constexpr DerivedFileFormat kFormat{"QLRMODEL", 8};
// Sizes no model of ours reaches; they keep the length arithmetic below far from overflow.
constexpr std::uint32_t kMaxFactors = 1024;
constexpr std::uint32_t kMaxSweeps = 1 << 16;

// The counts of the header after the fingerprint.
struct Counts {
    std::uint32_t users = 0;
    std::uint32_t items = 0;
    std::uint32_t factors = 0;
    std::uint32_t sweeps = 0; // averaged into the model
    std::uint8_t implicit = 0;
    std::uint8_t neighbours = 0;
    std::uint64_t links = 0;     // neighbour links
    std::uint64_t rated = 0;     // rated entries
    std::uint64_t linkBytes = 0; // the packed neighbour lists
};

// Calls field(value) for every count in file order: what the writer, the reader and the header's size all follow.
template <class AnyCounts, class Field> constexpr void ForEachCount(AnyCounts& c, Field&& field) {
    field(c.users);
    field(c.items);
    field(c.factors);
    field(c.sweeps);
    field(c.implicit);
    field(c.neighbours);
    field(c.links);
    field(c.rated);
    field(c.linkBytes);
}

// The header's bytes after the fingerprint: the counts and the mean.
constexpr std::size_t kCountsSize = [] {
    Counts c;
    std::size_t size = sizeof(float);
    ForEachCount(c, [&](const auto& value) { size += sizeof value; });
    return size;
}();
static_assert(kCountsSize == 4 * 4 + 2 + 3 * 8 + sizeof(float));

// What the file holds beside the model's own arrays: the packed neighbour lists and their weights' 16-bit codes, made
// from the model before a save and read into the model after a load.
struct Packed {
    std::vector<std::uint8_t> links;
    std::vector<std::uint16_t> weights;
};

// A model with its packed lists, which the part list below reads and writes as one.
template <class Model> struct Image {
    Model& m;
    Packed& p;
};

// Every part of the file after the header, in file order, with the type and the number of its values: the one list
// that the length check, the writer and the reader follow. For each part, `part` is called as
//     part.template Array<T>(count, storage)  count values of T, or
//     part.template Value<T>(storage)         a single T,
// `storage(image)` pointing to where the model (image.m) or the packed lists (image.p) keep them: a std::vector<T>,
// an Eigen vector or matrix of T (sized by the reader beforehand), or a T. What is there follows from the counts
// alone, so the length is known before anything is read.
template <class Part> void ForEachPart(const Counts& c, Part&& part) {
    const std::uint64_t d = std::uint64_t(c.factors) + 1;
    part.template Array<float>(c.users, [](auto& f) { return &f.m.baseUserBias; });
    part.template Array<float>(c.items, [](auto& f) { return &f.m.baseItemBias; });
    if (c.factors > 0) {
        part.template Array<float>(c.users, [](auto& f) { return &f.m.userBias; });
        part.template Array<float>(c.items, [](auto& f) { return &f.m.itemBias; });
        part.template Array<float>(std::uint64_t(c.users) * c.factors, [](auto& f) { return &f.m.userFactors; });
        part.template Array<float>(std::uint64_t(c.items) * c.factors, [](auto& f) { return &f.m.itemFactors; });
        part.template Array<float>(std::uint64_t(c.items) * d, [](auto& f) { return &f.m.itemVariance; });
        part.template Array<float>(c.factors, [](auto& f) { return &f.m.priorUserFactors; });
        part.template Value<float>([](auto& f) { return &f.m.priorUserBias; });
        part.template Array<double>(d, [](auto& f) { return &f.m.hyperMean[0]; });
        part.template Array<double>(d * d, [](auto& f) { return &f.m.hyperPrecision[0]; });
        part.template Value<double>([](auto& f) { return &f.m.noisePrecision[0]; });
        if (c.implicit) {
            part.template Array<float>(std::uint64_t(c.items) * d, [](auto& f) { return &f.m.implicitVectors; });
        }
    }
    if (c.neighbours) {
        part.template Value<float>([](auto& f) { return &f.m.neighbourBlend; });
        part.template Array<std::uint8_t>(c.linkBytes, [](auto& f) { return &f.p.links; });
        part.template Array<std::uint16_t>(c.links, [](auto& f) { return &f.p.weights; });
        part.template Array<std::int16_t>(c.rated, [](auto& f) { return &f.m.ratedResidual; });
    }
}

// The bytes a packed list of `rows` rows and `entries` entries may take: at least one byte a number, at most ten
// for a row's count and five for an index.
bool PackedSizeFits(std::uint64_t bytes, std::uint64_t rows, std::uint64_t entries) {
    return bytes >= rows + entries && bytes <= 10 * rows + 5 * entries;
}

void PutNumber(std::vector<std::uint8_t>& out, std::uint64_t value) {
    for (; value >= 0x80; value >>= 7) {
        out.push_back(static_cast<std::uint8_t>(value | 0x80));
    }
    out.push_back(static_cast<std::uint8_t>(value));
}

bool GetNumber(const std::uint8_t*& at, const std::uint8_t* end, std::uint64_t& value) {
    value = 0;
    for (unsigned shift = 0; shift < 64 && at != end; shift += 7) {
        const std::uint8_t byte = *at++;
        value |= std::uint64_t(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

// Packs lists of sorted indices (row r: index[start[r] .. start[r + 1])).
std::vector<std::uint8_t> PackLists(const std::vector<std::uint64_t>& start, const std::vector<std::uint32_t>& index) {
    std::vector<std::uint8_t> out;
    out.reserve(index.size() * 2 + start.size());
    for (std::size_t r = 0; r + 1 < start.size(); ++r) {
        PutNumber(out, start[r + 1] - start[r]);
        std::uint32_t previous = 0;
        for (std::uint64_t k = start[r]; k < start[r + 1]; ++k) {
            PutNumber(out, index[k] - previous);
            previous = index[k];
        }
    }
    return out;
}

// Unpacks `rows` lists holding `entries` indices in all, each below `items`; false unless the bytes hold exactly
// that, so that no lookup can leave the arrays whatever the file says.
bool UnpackLists(const std::vector<std::uint8_t>& bytes, std::uint64_t rows, std::uint64_t entries, std::uint32_t items,
                 std::vector<std::uint64_t>& start, std::vector<std::uint32_t>& index) {
    start.assign(rows + 1, 0);
    index.resize(entries);
    const std::uint8_t* at = bytes.data();
    const std::uint8_t* end = at + bytes.size();
    std::uint64_t filled = 0;
    for (std::uint64_t r = 0; r < rows; ++r) {
        std::uint64_t count = 0;
        if (!GetNumber(at, end, count) || count > entries - filled) {
            return false;
        }
        std::uint64_t item = 0;
        for (std::uint64_t k = 0; k < count; ++k) {
            std::uint64_t gap = 0;
            if (!GetNumber(at, end, gap) || gap >= items || (item += gap) >= items) {
                return false;
            }
            index[filled++] = static_cast<std::uint32_t>(item);
        }
        start[r + 1] = filled;
    }
    return at == end && filled == entries;
}

// The element type of what a part's storage holds, which must be the type the part list gives it.
template <class Storage> using ElementOf = std::remove_cvref_t<decltype(*std::declval<Storage&>().data())>;

// Accumulates a length without overflow; any overflow makes the whole length invalid.
class CLength {
public:
    void Add(std::uint64_t count, std::uint64_t size) {
        std::uint64_t product = 0;
        if (__builtin_mul_overflow(count, size, &product) || __builtin_add_overflow(m_total, product, &m_total)) {
            m_valid = false;
        }
    }
    bool Equals(std::uint64_t size) const { return m_valid && m_total == size; }

    // As a part visitor: the parts' sizes, without a model.
    template <class T, class Storage> void Array(std::uint64_t count, Storage&&) { Add(count, sizeof(T)); }
    template <class T, class Storage> void Value(Storage&&) { Add(1, sizeof(T)); }

private:
    std::uint64_t m_total = 0;
    bool m_valid = true;
};

// The exact length of the parts of a file with these counts (the body, between the header and the checksum).
CLength PartsLength(const Counts& c) {
    CLength length;
    ForEachPart(c, length);
    return length;
}

// Whether the counts hang together as a saved model's do: factors and sweeps both or neither, flags 0 or 1, sizes
// no model of ours reaches refused, and the packed lists as long as their entries allow.
bool CountsHangTogether(const Counts& c) {
    const bool factorsAlone = (c.factors == 0) == (c.sweeps == 0);
    return factorsAlone && c.factors <= kMaxFactors && c.sweeps <= kMaxSweeps && c.implicit <= 1 && c.neighbours <= 1 &&
           (c.factors != 0 || !c.implicit) && (c.neighbours || (c.links == 0 && c.rated == 0 && c.linkBytes == 0)) &&
           (!c.neighbours || PackedSizeFits(c.linkBytes, c.items, c.links));
}

// Whether the counts are what these settings train on data of this shape (the fingerprint holds the settings): one
// rank, at most the sweeps asked for, at most the neighbours asked for per item.
bool CountsMatch(const Counts& c, const ModelSettings& settings, const std::optional<ModelShape>& expected) {
    if (expected && (c.users != expected->users || c.items != expected->items ||
                     (expected->ratings && c.rated > *expected->ratings))) {
        return false;
    }
    return (c.factors == 0 || c.factors == static_cast<std::uint32_t>(std::max(0, settings.factors))) &&
           c.sweeps <= static_cast<std::uint32_t>(std::max(0, settings.samples)) &&
           c.links <= std::uint64_t(c.items) * static_cast<std::uint64_t>(std::max(0, settings.neighbours));
}

// Writes a model's parts. A part whose size disagrees with the counts would make a file no reader accepts, so it
// stops the save instead.
template <class Model> class CPartWriter {
public:
    CPartWriter(const Model& model, CByteWriter& out) : m_model(model), m_out(out) {}

    template <class T, class Storage> void Array(std::uint64_t count, Storage&& storage) {
        const auto& values = *storage(m_model);
        static_assert(std::is_same_v<ElementOf<decltype(values)>, T>);
        if (static_cast<std::uint64_t>(values.size()) != count) {
            throw std::runtime_error("the model's parameters do not match its sizes");
        }
        m_out.Put(values.data(), static_cast<std::size_t>(count) * sizeof(T));
    }
    template <class T, class Storage> void Value(Storage&& storage) {
        const auto& value = *storage(m_model);
        static_assert(std::is_same_v<std::remove_cvref_t<decltype(value)>, T>);
        m_out.PutValue(value);
    }

private:
    const Model& m_model;
    CByteWriter& m_out;
};

// Reads a model's parts; after the first read that fails, reads nothing more.
template <class Model> class CPartReader {
public:
    CPartReader(Model& model, CByteReader& in) : m_model(model), m_in(in) {}
    bool Ok() const { return m_ok; }

    template <class T, class Storage> void Array(std::uint64_t count, Storage&& storage) {
        auto& values = *storage(m_model);
        static_assert(std::is_same_v<ElementOf<decltype(values)>, T>);
        if (!m_ok) {
            return;
        }
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(values)>, std::vector<T>>) {
            m_ok = m_in.GetVector(values, static_cast<std::size_t>(count));
        } else {
            m_ok = static_cast<std::uint64_t>(values.size()) == count &&
                   m_in.Get(values.data(), static_cast<std::size_t>(count) * sizeof(T));
        }
    }
    template <class T, class Storage> void Value(Storage&& storage) {
        auto& value = *storage(m_model);
        static_assert(std::is_same_v<std::remove_cvref_t<decltype(value)>, T>);
        if (m_ok) {
            m_ok = m_in.GetValue(value);
        }
    }

private:
    Model& m_model;
    CByteReader& m_in;
    bool m_ok = true;
};

// A model of these counts with its arrays of fixed shape in place, for the parts to be read into.
template <class Model> void ShapeFor(Model& loaded, const Counts& c, const ModelSettings& settings, float mean) {
    loaded.settings = settings;
    loaded.mean = mean;
    loaded.numUsers = c.users;
    loaded.numItems = c.items;
    loaded.factors = c.factors;
    loaded.samples = c.factors > 0 ? 1 : 0;
    loaded.sweeps = c.sweeps;
    // The hyperparameters are read into place, so they take their shape first.
    const Eigen::Index d = loaded.factors + 1;
    loaded.hyperMean.assign(loaded.samples, Vector(d));
    loaded.hyperPrecision.assign(loaded.samples, Matrix(d, d));
    loaded.noisePrecision.assign(loaded.samples, 0.0);
}

// Gives a loaded model its neighbour lists: the rated lists' items from the ratings handed over, which must be as
// many as the model listed and of its users and items, and the neighbours from the packed lists, which come out
// sorted, as lookups in them assume, and within the arrays, or not at all.
template <class Model>
bool ListNeighbours(Model& loaded, const Packed& packed, const Counts& c, const IRatedRows& ratings) {
    std::uint64_t rated = 0;
    for (std::uint32_t u = 0; u < ratings.Users() && u < c.users; ++u) {
        rated += ratings.Count(u);
    }
    // Over the threads where there are millions of ratings; below that, starting them costs more than it saves.
    constexpr std::uint64_t kRatingsForThreads = 1000000;
    CThreadPool threads(c.rated >= kRatingsForThreads ? TrainingThreads() : 1);
    loaded.threads = &threads;
    const bool listed = ratings.Users() <= c.users && rated == c.rated && loaded.FillRatedLists(ratings, true);
    loaded.threads = nullptr;
    if (!listed || !std::isfinite(loaded.neighbourBlend) ||
        !UnpackLists(packed.links, c.items, c.links, loaded.numItems, loaded.neighbourStart, loaded.neighbourIndex)) {
        return false;
    }
    loaded.neighbourWeight.resize(packed.weights.size());
    std::transform(packed.weights.begin(), packed.weights.end(), loaded.neighbourWeight.begin(), WeightOf);
    loaded.IndexHeavyUsers();
    return true;
}

} // namespace

void CRatingModel::Save(const std::filesystem::path& path, std::string_view fingerprint) const {
    const Impl& m = *m_impl;
    if (m.HasFactors() && m.samples != 1) {
        throw std::runtime_error("the model's samples are not averaged");
    }
    Packed packed;
    if (m.HasNeighbours()) {
        packed.links = PackLists(m.neighbourStart, m.neighbourIndex);
        packed.weights.reserve(m.neighbourWeight.size());
        for (const float w : m.neighbourWeight) {
            packed.weights.push_back(WeightCode(w));
        }
    }
    Counts counts;
    counts.users = m.numUsers;
    counts.items = m.numItems;
    counts.factors = m.factors;
    counts.sweeps = m.HasFactors() ? std::max<std::uint32_t>(1, m.sweeps) : 0;
    counts.implicit = m.HasFactors() && m.HasImplicit() ? 1 : 0;
    counts.neighbours = m.HasNeighbours() ? 1 : 0;
    counts.links = m.HasNeighbours() ? m.neighbourIndex.size() : 0;
    counts.rated = m.HasNeighbours() ? m.ratedItem.size() : 0;
    counts.linkBytes = packed.links.size();
    // Tens of megabytes on large data: written as it is put, never held whole.
    WriteDerivedFile(path, kFormat, {fingerprint}, [&](CByteWriter& out) {
        ForEachCount(counts, [&](const auto& value) { out.PutValue(value); });
        out.PutValue(m.mean);
        const Image<const Impl> image{m, packed};
        ForEachPart(counts, CPartWriter(image, out));
    });
}

bool CRatingModel::Load(const std::filesystem::path& path, std::string_view fingerprint,
                        std::span<const Rating> ratings, std::optional<ModelShape> expected) {
    std::uint32_t users = 0;
    for (const Rating& r : ratings) {
        users = std::max(users, r.user + 1);
    }
    const Rows byUser = GroupRatings(ratings, users, true);
    return Load(path, fingerprint, CRowsByUser(byUser), expected);
}

bool CRatingModel::Load(const std::filesystem::path& path, std::string_view fingerprint, const IRatedRows& ratings,
                        std::optional<ModelShape> expected) {
    try {
        return LoadChecked(path, fingerprint, ratings, expected);
    } catch (const std::bad_alloc&) {
        // Sizes that passed every check and still do not fit in memory: the file is of no use here either.
        return false;
    }
}

bool CRatingModel::LoadChecked(const std::filesystem::path& path, std::string_view fingerprint,
                               const IRatedRows& ratings, std::optional<ModelShape> expected) {
    // The header first: nothing is allocated from what the file says until its exact length is known and matches
    // the file.
    CDerivedFileReader file;
    if (!file.Open(path) || !file.ReadHeader(kFormat, {DerivedKey::Exactly(fingerprint)}, kCountsSize)) {
        return false;
    }
    Counts counts;
    float mean = 0;
    CByteReader header = file.Counts();
    ForEachCount(counts, [&](auto& value) { header.GetValue(value); });
    header.GetValue(mean);
    if (!CountsHangTogether(counts) || !CountsMatch(counts, m_impl->settings, expected) ||
        !PartsLength(counts).Equals(file.BodySize())) {
        return false;
    }

    // The arrays are read straight into place, the checksum taken along and compared before anything is built from
    // them.
    Impl loaded;
    ShapeFor(loaded, counts, m_impl->settings, mean);
    Packed packed;
    Image<Impl> image{loaded, packed};
    CPartReader reader(image, file.Body());
    ForEachPart(counts, reader);
    if (!reader.Ok() || !file.ChecksumRight()) {
        return false;
    }
    if (counts.factors > 0) {
        loaded.itemSampleBias = loaded.itemBias; // one sample: its biases are the averaged ones
    }
    if (counts.neighbours && !ListNeighbours(loaded, packed, counts, ratings)) {
        return false;
    }
    *m_impl = std::move(loaded);
    return true;
}

} // namespace quillory::model
