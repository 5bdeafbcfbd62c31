// The model's cache file: every trained parameter, after a header that holds the fingerprint of what it was trained
// on and every count the rest of the file follows from, so that a reader knows the file's exact length (and can
// refuse a wrong one) before it allocates anything. A checksum ends the file.
//
//   magic "QLRMODEL", version, fingerprint length and bytes,
//   users, items, factors, samples (u32), implicit, neighbours (u8), neighbour links, rated entries (u64), mean (f32),
//   the parameter arrays in the order Save writes them, checksum (u64).

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "CacheFileReader.h"
#include "CacheFileWriter.h"
#include "Checksum.h"
#include "RatingModelImpl.h"

namespace quillory::model {

namespace {

constexpr char kMagic[8] = {'Q', 'L', 'R', 'M', 'O', 'D', 'E', 'L'};
constexpr std::uint32_t kFormatVersion = 5;
// Sizes no model of ours reaches; they keep the length arithmetic below far from overflow.
constexpr std::uint32_t kMaxFactors = 1024;
constexpr std::uint32_t kMaxSamples = 1 << 16;
constexpr std::uint64_t kMaxFingerprint = 1 << 20;

// The counts of the header after the fingerprint.
struct Counts {
    std::uint32_t users = 0;
    std::uint32_t items = 0;
    std::uint32_t factors = 0;
    std::uint32_t samples = 0;
    std::uint8_t implicit = 0;
    std::uint8_t neighbours = 0;
    std::uint64_t links = 0; // neighbour links
    std::uint64_t rated = 0; // rated entries
};
constexpr std::size_t kCountsSize = 4 * 4 + 2 + 2 * 8 + sizeof(float);

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
    std::uint64_t Total() const { return m_valid ? m_total : 0; }

private:
    std::uint64_t m_total = 0;
    bool m_valid = true;
};

// The exact length of a file with these counts, fingerprint and header included.
CLength ExpectedLength(const Counts& c, std::uint64_t fingerprintSize) {
    CLength length;
    length.Add(1, sizeof kMagic + sizeof kFormatVersion + sizeof(std::uint64_t) + fingerprintSize + kCountsSize);
    length.Add(std::uint64_t(c.users) + c.items, sizeof(float)); // baseline biases
    const std::uint64_t width = std::uint64_t(c.factors) * c.samples;
    const std::uint64_t d = std::uint64_t(c.factors) + 1;
    if (width > 0) {
        length.Add(std::uint64_t(c.users) + c.items, sizeof(float));         // biases
        length.Add(std::uint64_t(c.users) + c.items, width * sizeof(float)); // factors
        length.Add(c.items, std::uint64_t(c.samples) * sizeof(float));       // per-sample item biases
        length.Add(width + 1, sizeof(float));                                // prior factors and bias
        length.Add(c.samples, (d + d * d + 1) * sizeof(double));             // hyperparameters, noise
        if (c.implicit) {
            length.Add(c.items, std::uint64_t(c.samples) * d * sizeof(float));
        }
    }
    if (c.neighbours) {
        length.Add(1, sizeof(float));
        length.Add(std::uint64_t(c.items) + 1, sizeof(std::uint64_t));
        length.Add(c.links, sizeof(std::uint32_t) + sizeof(float));
        length.Add(std::uint64_t(c.users) + 1, sizeof(std::uint64_t));
        length.Add(c.rated, sizeof(std::uint32_t) + sizeof(float));
    }
    length.Add(1, sizeof(std::uint64_t)); // checksum
    return length;
}

} // namespace

void CRatingModel::Save(const std::filesystem::path& path, std::string_view fingerprint) const {
    const Impl& m = *m_impl;
    CByteWriter out;
    // Tens of megabytes on large data: one allocation of the exact length, not a buffer grown by copies.
    Counts counts;
    counts.users = m.numUsers;
    counts.items = m.numItems;
    counts.factors = m.factors;
    counts.samples = m.samples;
    counts.implicit = m.HasFactors() && m.HasImplicit() ? 1 : 0;
    counts.neighbours = m.HasNeighbours() ? 1 : 0;
    counts.links = m.HasNeighbours() ? m.neighbourIndex.size() : 0;
    counts.rated = m.HasNeighbours() ? m.ratedItem.size() : 0;
    out.Bytes().reserve(static_cast<std::size_t>(ExpectedLength(counts, fingerprint.size()).Total()));
    out.Put(kMagic, sizeof kMagic);
    out.PutValue(kFormatVersion);
    out.PutValue(static_cast<std::uint64_t>(fingerprint.size()));
    out.Put(fingerprint.data(), fingerprint.size());
    out.PutValue(counts.users);
    out.PutValue(counts.items);
    out.PutValue(counts.factors);
    out.PutValue(counts.samples);
    out.PutValue(counts.implicit);
    out.PutValue(counts.neighbours);
    out.PutValue(counts.links);
    out.PutValue(counts.rated);
    out.PutValue(m.mean);
    out.PutVector(m.baseUserBias);
    out.PutVector(m.baseItemBias);
    if (m.HasFactors()) {
        out.PutVector(m.userBias);
        out.PutVector(m.itemBias);
        out.PutVector(m.userFactors);
        out.PutVector(m.itemFactors);
        out.PutVector(m.itemSampleBias);
        out.PutVector(m.priorUserFactors);
        out.PutValue(m.priorUserBias);
        for (std::uint32_t s = 0; s < m.samples; ++s) {
            out.Put(m.hyperMean[s].data(), static_cast<std::size_t>(m.hyperMean[s].size()) * sizeof(double));
            out.Put(m.hyperPrecision[s].data(), static_cast<std::size_t>(m.hyperPrecision[s].size()) * sizeof(double));
            out.PutValue(m.noisePrecision[s]);
        }
        if (m.HasImplicit()) {
            out.PutVector(m.implicitVectors);
        }
    }
    if (m.HasNeighbours()) {
        out.PutValue(m.neighbourBlend);
        out.PutVector(m.neighbourStart);
        out.PutVector(m.neighbourIndex);
        out.PutVector(m.neighbourWeight);
        out.PutVector(m.ratedStart);
        out.PutVector(m.ratedItem);
        out.PutVector(m.ratedResidual);
    }
    const std::uint64_t sum = Checksum(out.Bytes().data(), out.Bytes().size());
    out.PutValue(sum);
    WriteCacheFile(path, out.Bytes(), std::string_view(kMagic, sizeof kMagic));
}

bool CRatingModel::Load(const std::filesystem::path& path, std::string_view fingerprint,
                        std::optional<ModelShape> expected) {
    try {
        return LoadChecked(path, fingerprint, expected);
    } catch (const std::bad_alloc&) {
        // Sizes that passed every check and still do not fit in memory: the file is of no use here either.
        return false;
    }
}

bool CRatingModel::LoadChecked(const std::filesystem::path& path, std::string_view fingerprint,
                               std::optional<ModelShape> expected) {
    CCacheFileReader file;
    if (!file.Open(path)) {
        return false;
    }

    // The header, read piece by piece: nothing is allocated from what the file says until its exact length is known
    // and matches the file.
    constexpr std::size_t kPrefix = sizeof kMagic + sizeof kFormatVersion + sizeof(std::uint64_t);
    unsigned char prefix[kPrefix];
    if (file.Size() < kPrefix || !file.Read(prefix, kPrefix) || std::memcmp(prefix, kMagic, sizeof kMagic) != 0) {
        return false;
    }
    std::uint32_t version = 0;
    std::uint64_t fingerprintSize = 0;
    std::memcpy(&version, prefix + sizeof kMagic, sizeof version);
    std::memcpy(&fingerprintSize, prefix + sizeof kMagic + sizeof version, sizeof fingerprintSize);
    if (version != kFormatVersion || fingerprintSize != fingerprint.size() || fingerprintSize > kMaxFingerprint ||
        file.Size() < kPrefix + fingerprintSize + kCountsSize) {
        return false;
    }
    std::vector<unsigned char> bytes(kPrefix + fingerprint.size() + kCountsSize);
    std::memcpy(bytes.data(), prefix, kPrefix);
    if (!file.Read(bytes.data() + kPrefix, bytes.size() - kPrefix) ||
        std::memcmp(bytes.data() + kPrefix, fingerprint.data(), fingerprint.size()) != 0) {
        return false;
    }
    Counts counts;
    {
        CByteReader header(bytes.data() + kPrefix + fingerprint.size(), kCountsSize);
        header.GetValue(counts.users);
        header.GetValue(counts.items);
        header.GetValue(counts.factors);
        header.GetValue(counts.samples);
        header.GetValue(counts.implicit);
        header.GetValue(counts.neighbours);
        header.GetValue(counts.links);
        header.GetValue(counts.rated);
    }
    const bool factorsAlone = (counts.factors == 0) == (counts.samples == 0);
    if (!factorsAlone || counts.factors > kMaxFactors || counts.samples > kMaxSamples || counts.implicit > 1 ||
        counts.neighbours > 1 || (counts.factors == 0 && counts.implicit) ||
        (!counts.neighbours && (counts.links != 0 || counts.rated != 0))) {
        return false;
    }
    if (expected && (counts.users != expected->users || counts.items != expected->items)) {
        return false;
    }
    if (!ExpectedLength(counts, fingerprint.size()).Equals(file.Size())) {
        return false;
    }

    // The whole file in one buffer, left uninitialised: it is read over at once.
    const std::size_t headerSize = bytes.size();
    const auto total = static_cast<std::size_t>(file.Size());
    const std::unique_ptr<unsigned char[]> whole(new unsigned char[total]);
    std::memcpy(whole.get(), bytes.data(), headerSize);
    if (!file.Read(whole.get() + headerSize, total - headerSize)) {
        return false;
    }
    std::uint64_t stored = 0;
    const std::size_t body = total - sizeof stored;
    std::memcpy(&stored, whole.get() + body, sizeof stored);
    if (Checksum(whole.get(), body) != stored) {
        return false;
    }

    CByteReader in(whole.get() + headerSize - sizeof(float), body - headerSize + sizeof(float));
    Impl loaded;
    loaded.settings = m_impl->settings;
    loaded.numUsers = counts.users;
    loaded.numItems = counts.items;
    loaded.factors = counts.factors;
    loaded.samples = counts.samples;
    if (!in.GetValue(loaded.mean) || !in.GetVector(loaded.baseUserBias, loaded.numUsers) ||
        !in.GetVector(loaded.baseItemBias, loaded.numItems)) {
        return false;
    }
    if (loaded.HasFactors()) {
        const std::size_t width = loaded.Width();
        const Eigen::Index d = loaded.factors + 1;
        if (!in.GetVector(loaded.userBias, loaded.numUsers) || !in.GetVector(loaded.itemBias, loaded.numItems) ||
            !in.GetVector(loaded.userFactors, std::size_t(loaded.numUsers) * width) ||
            !in.GetVector(loaded.itemFactors, std::size_t(loaded.numItems) * width) ||
            !in.GetVector(loaded.itemSampleBias, std::size_t(loaded.numItems) * loaded.samples) ||
            !in.GetVector(loaded.priorUserFactors, width) || !in.GetValue(loaded.priorUserBias)) {
            return false;
        }
        for (std::uint32_t s = 0; s < loaded.samples; ++s) {
            Vector mean(d);
            Matrix precision(d, d);
            double noise = 0.0;
            if (!in.Get(mean.data(), static_cast<std::size_t>(d) * sizeof(double)) ||
                !in.Get(precision.data(), static_cast<std::size_t>(d * d) * sizeof(double)) || !in.GetValue(noise)) {
                return false;
            }
            loaded.hyperMean.push_back(std::move(mean));
            loaded.hyperPrecision.push_back(std::move(precision));
            loaded.noisePrecision.push_back(noise);
        }
        if (counts.implicit && !in.GetVector(loaded.implicitVectors, std::size_t(loaded.numItems) * loaded.samples *
                                                                         static_cast<std::size_t>(d))) {
            return false;
        }
    }
    if (counts.neighbours) {
        // Offsets must run from 0 upward to the list's length and indices stay below the item count, so that no
        // lookup can leave the arrays whatever the file says.
        const auto validLists = [&](std::vector<std::uint64_t>& start, std::size_t rows, std::uint64_t entries,
                                    std::vector<std::uint32_t>& index) {
            if (!in.GetVector(start, rows + 1) || start.front() != 0 || start.back() != entries) {
                return false;
            }
            for (std::size_t r = 0; r < rows; ++r) {
                if (start[r + 1] < start[r]) {
                    return false;
                }
            }
            if (!in.GetVector(index, static_cast<std::size_t>(entries))) {
                return false;
            }
            return std::all_of(index.begin(), index.end(), [&](std::uint32_t i) { return i < loaded.numItems; });
        };
        if (!in.GetValue(loaded.neighbourBlend) || !std::isfinite(loaded.neighbourBlend) ||
            !validLists(loaded.neighbourStart, loaded.numItems, counts.links, loaded.neighbourIndex) ||
            !in.GetVector(loaded.neighbourWeight, loaded.neighbourIndex.size()) ||
            !validLists(loaded.ratedStart, loaded.numUsers, counts.rated, loaded.ratedItem) ||
            !in.GetVector(loaded.ratedResidual, loaded.ratedItem.size())) {
            return false;
        }
    }
    if (in.Left() != 0) {
        return false;
    }
    if (loaded.HasNeighbours()) {
        // Lookups in a user's items assume them sorted, as training writes them.
        for (std::uint32_t u = 0; u < loaded.numUsers; ++u) {
            for (std::uint64_t k = loaded.ratedStart[u] + 1; k < loaded.ratedStart[u + 1]; ++k) {
                if (loaded.ratedItem[k - 1] > loaded.ratedItem[k]) {
                    return false;
                }
            }
        }
        loaded.IndexHeavyUsers();
    }
    *m_impl = std::move(loaded);
    return true;
}

} // namespace quillory::model
