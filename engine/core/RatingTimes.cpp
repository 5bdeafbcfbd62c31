#include "RatingTimes.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <exception>
#include <functional>
#include <iostream>
#include <new>
#include <utility>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "ChunkThreads.h"
#include "DataSet.h"
#include "DerivedFileHeader.h"
#include "DerivedFileNames.h"
#include "EngineErrors.h"

// The file: magic "QLRTIMES", version (u32), fingerprint length (u64) and bytes, the count of ratings (u64), one
// time per rating (i64) in the rating index's order, and a checksum (u64) of all before (the frame is
// DerivedFileHeader's).

namespace quillory {

namespace {

constexpr DerivedFileFormat kFormat{"QLRTIMES", 1};

} // namespace

CRatingTimes::CRatingTimes(const std::filesystem::path& cacheBase, std::string fingerprint)
    : m_path(cacheBase), m_fingerprint(std::move(fingerprint)) {
    if (!m_path.empty()) {
        m_path = DerivedFilePath(m_path, DerivedFile::Times);
    }
}

void CRatingTimes::KeepFresh(const data::DataSet& data) {
    const std::vector<data::RatingRecord>& ratings = data.ratings;
    const auto keepInMemory = [&] {
        m_times.resize(ratings.size());
        PlaceInto(data, reinterpret_cast<unsigned char*>(m_times.data()));
        m_loaded = true;
    };
    if (m_path.empty()) {
        keepInMemory();
        return;
    }
    try {
        // Written a block at a time, gathered straight from the ratings: on large data a copy of them all would add
        // a quarter to what the start holds at that moment.
        const std::vector<std::uint32_t>& positions = data.order.positions;
        Write(ratings.size(), [&](std::size_t first, std::size_t count, long long* out) {
            for (std::size_t k = 0; k < count; ++k) {
                out[k] = ratings[positions[first + k]].timestamp;
            }
        });
    } catch (const std::exception& e) {
        // Not fatal: they stay in memory, and the next start reads the text again. One line, so the reason can be
        // found.
        std::cerr << "Quillory: the times of the ratings could not be kept in " << m_path.string() << ": " << e.what()
                  << '\n';
        keepInMemory();
        return;
    }
    // Kept: read back only if someone asks, as after a warm start.
    std::vector<long long>().swap(m_times);
    m_loaded = false;
}

void CRatingTimes::PlaceInto(const data::DataSet& data, unsigned char* out) {
    const std::vector<std::uint32_t>& positions = data.order.positions;
    constexpr std::size_t kBlock = std::size_t{1} << 20;
    data::RunChunks(data::LoadingThreads(), (positions.size() + kBlock - 1) / kBlock, [&](std::size_t block) {
        const std::size_t last = std::min(positions.size(), (block + 1) * kBlock);
        for (std::size_t k = block * kBlock; k < last; ++k) {
            std::memcpy(out + k * sizeof(long long), &data.ratings[positions[k]].timestamp, sizeof(long long));
        }
    });
}

std::span<const long long> CRatingTimes::OfUser(std::uint32_t user, const CRatingIndex& index,
                                                const data::Manifest& manifest) {
    if (user >= index.Users() || index.Row(user).empty()) {
        return {};
    }
    if (!m_loaded && !Load(index.Size())) {
        // Missing, stale or damaged: the text holds the times. Data changed since the start would not match the
        // ratings held, which the fingerprint tells.
        data::DataSet data = data::LoadDataSet(manifest);
        if (data.fingerprint != m_fingerprint || data.ratings.size() != index.Size()) {
            ThrowDataError("The data files of " + manifest.file.string() +
                           " changed since Quillory started. Start it again to see the ratings they hold.");
        }
        m_times.resize(data.ratings.size());
        PlaceInto(data, reinterpret_cast<unsigned char*>(m_times.data()));
        m_loaded = true;
        try {
            Save();
        } catch (const std::exception& e) {
            std::cerr << "Quillory: the times of the ratings could not be kept in " << m_path.string() << ": "
                      << e.what() << '\n';
        }
    }
    const auto first = static_cast<std::size_t>(index.Offsets()[user]);
    return std::span<const long long>(m_times).subspan(first, index.Row(user).size());
}

bool CRatingTimes::Load(std::size_t count) {
    CDerivedFileReader file;
    if (m_path.empty() || !file.Open(m_path) ||
        !file.ReadHeader(kFormat, {DerivedKey::Exactly(m_fingerprint)}, sizeof(std::uint64_t))) {
        return false;
    }
    // The length follows from the count the index holds: a file of any other length is refused before it is read.
    std::uint64_t saved = 0;
    if (!file.Counts().GetValue(saved) || saved != count || file.BodySize() != count * sizeof(long long)) {
        return false;
    }
    try {
        // Read straight into place, the checksum taken along and compared before the times are kept.
        std::vector<long long> times;
        if (!file.Body().GetVector(times, count) || !file.ChecksumRight()) {
            return false;
        }
        m_times = std::move(times);
        m_loaded = true;
        return true;
    } catch (const std::bad_alloc&) {
        return false; // then the text is read, which fails with a message of its own if memory is that short
    }
}

void CRatingTimes::Save() const {
    if (m_path.empty()) {
        return; // kept in memory only
    }
    Write(m_times.size(), [&](std::size_t first, std::size_t count, long long* out) {
        std::copy_n(m_times.begin() + static_cast<std::ptrdiff_t>(first), count, out);
    });
}

void CRatingTimes::Write(std::size_t count,
                         const std::function<void(std::size_t, std::size_t, long long*)>& timesAt) const {
    WriteDerivedFile(m_path, kFormat, {m_fingerprint}, [&](CByteWriter& out) {
        out.PutValue(static_cast<std::uint64_t>(count));
        constexpr std::size_t kBlock = std::size_t{1} << 16;
        std::vector<long long> block(std::min(count, kBlock));
        for (std::size_t first = 0; first < count; first += kBlock) {
            const std::size_t n = std::min(kBlock, count - first);
            timesAt(first, n, block.data());
            out.Put(block.data(), n * sizeof(long long));
        }
    });
}

} // namespace quillory
