#include "DataSnapshot.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "CacheFileReader.h"
#include "CacheFileWriter.h"
#include "Checksum.h"
#include "EngineErrors.h"

// The file: magic "QLRSNAPS", version (u32), fingerprint length (u64) and bytes, the counts (u64 each: movies,
// users, entries, string bytes), then per movie its id (i32) and the lengths of its four texts (u32 each), the texts
// one after another, the user ids (i32), the offsets (u64), the entries (u32), and a checksum (u64) of all before.

namespace quillory::data {

namespace {

constexpr char kMagic[8] = {'Q', 'L', 'R', 'S', 'N', 'A', 'P', 'S'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kPrefix = sizeof kMagic + sizeof kVersion + sizeof(std::uint64_t);
constexpr std::size_t kCounts = 4 * sizeof(std::uint64_t);
constexpr std::size_t kMovieFixed = sizeof(std::int32_t) + 4 * sizeof(std::uint32_t);

bool Valid(const Snapshot& s) {
    if (s.movies.empty() || s.movies.size() >= CRatingIndex::kMaxItems || s.ratings.Users() != s.users.size() ||
        !s.ratings.IsWellFormed(s.movies.size())) {
        return false;
    }
    // Ids are keys: no movie id and no user id twice.
    std::vector<int> ids;
    ids.reserve(std::max(s.movies.size(), s.users.size()));
    for (const MovieRecord& movie : s.movies) {
        ids.push_back(movie.id);
    }
    std::sort(ids.begin(), ids.end());
    if (std::adjacent_find(ids.begin(), ids.end()) != ids.end()) {
        return false;
    }
    ids.assign(s.users.begin(), s.users.end());
    std::sort(ids.begin(), ids.end());
    return std::adjacent_find(ids.begin(), ids.end()) == ids.end();
}

bool LoadChecked(const std::filesystem::path& path, const DataFingerprint& fingerprint, Snapshot& out) {
    CCacheFileReader file;
    if (!file.Open(path)) {
        return false;
    }
    // A snapshot holds the data's content in a denser form: it can never be much longer than the files themselves.
    // Anything longer (a sparse file of gigabytes, say) is refused before it is read.
    const std::uint64_t limit = 16 * fingerprint.bytes + 4096 + fingerprint.text.size();
    if (file.Size() > limit || file.Size() < kPrefix + fingerprint.text.size() + kCounts + sizeof(std::uint64_t)) {
        return false;
    }
    // One buffer, left uninitialised: it is read over at once.
    const auto size = static_cast<std::size_t>(file.Size());
    const std::unique_ptr<unsigned char[]> bytes(new unsigned char[size]);
    if (!file.Read(bytes.get(), size)) {
        return false;
    }
    std::uint64_t stored = 0;
    const std::size_t body = size - sizeof stored;
    std::memcpy(&stored, bytes.get() + body, sizeof stored);
    if (Checksum(bytes.get(), body) != stored) {
        return false;
    }

    CByteReader in(bytes.get(), body);
    char magic[sizeof kMagic];
    std::uint32_t version = 0;
    std::uint64_t fingerprintSize = 0;
    if (!in.Get(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0 || !in.GetValue(version) ||
        version != kVersion || !in.GetValue(fingerprintSize) || fingerprintSize != fingerprint.text.size()) {
        return false;
    }
    std::string saved;
    if (!in.GetText(saved, fingerprint.text.size()) || saved != fingerprint.text) {
        return false;
    }
    std::uint64_t movies = 0, users = 0, entries = 0, textBytes = 0;
    if (!in.GetValue(movies) || !in.GetValue(users) || !in.GetValue(entries) || !in.GetValue(textBytes)) {
        return false;
    }
    // Every count against what is left of the file, before anything is sized from it.
    const std::uint64_t left = in.Left();
    if (movies > left / kMovieFixed || users > left / (sizeof(int) + sizeof(std::uint64_t)) ||
        entries > left / sizeof(std::uint32_t) || textBytes > left ||
        movies * kMovieFixed + textBytes + users * (sizeof(int) + sizeof(std::uint64_t)) + sizeof(std::uint64_t) +
                entries * sizeof(std::uint32_t) !=
            left) {
        return false;
    }

    Snapshot loaded;
    loaded.movies.resize(static_cast<std::size_t>(movies));
    std::vector<std::uint32_t> lengths(static_cast<std::size_t>(movies) * 4);
    std::uint64_t lengthSum = 0;
    for (std::size_t m = 0; m < loaded.movies.size(); ++m) {
        std::int32_t id = 0;
        if (!in.GetValue(id) || !in.Get(&lengths[m * 4], 4 * sizeof(std::uint32_t))) {
            return false;
        }
        loaded.movies[m].id = id;
        for (int k = 0; k < 4; ++k) {
            lengthSum += lengths[m * 4 + static_cast<std::size_t>(k)];
        }
    }
    if (lengthSum != textBytes) {
        return false;
    }
    for (std::size_t m = 0; m < loaded.movies.size(); ++m) {
        MovieRecord& movie = loaded.movies[m];
        if (!in.GetText(movie.title, lengths[m * 4]) || !in.GetText(movie.name, lengths[m * 4 + 1]) ||
            !in.GetText(movie.releaseDate, lengths[m * 4 + 2]) || !in.GetText(movie.url, lengths[m * 4 + 3])) {
            return false;
        }
    }
    std::vector<std::uint64_t> offsets;
    std::vector<std::uint32_t> packed;
    if (!in.GetVector(loaded.users, static_cast<std::size_t>(users)) ||
        !in.GetVector(offsets, static_cast<std::size_t>(users) + 1) ||
        !in.GetVector(packed, static_cast<std::size_t>(entries)) || in.Left() != 0) {
        return false;
    }
    loaded.ratings = CRatingIndex(std::move(offsets), std::move(packed));
    if (!Valid(loaded)) {
        return false;
    }
    out = std::move(loaded);
    return true;
}

} // namespace

Snapshot BuildSnapshot(DataSet&& data) {
    if (data.movies.size() >= CRatingIndex::kMaxItems) {
        ThrowDataError("The movies file " + data.manifest.movies.string() +
                       " lists more movies than Quillory can hold.");
    }
    Snapshot snapshot;
    snapshot.ratings = CRatingIndex::Group(static_cast<std::uint32_t>(data.users.size()), data.ratings.size(),
                                           [&](std::size_t i) -> const RatingRecord& { return data.ratings[i]; });
    std::vector<RatingRecord>().swap(data.ratings);
    snapshot.movies = std::move(data.movies);
    snapshot.users = std::move(data.users);
    return snapshot;
}

bool LoadSnapshot(const std::filesystem::path& path, const DataFingerprint& fingerprint, Snapshot& out) {
    try {
        return LoadChecked(path, fingerprint, out);
    } catch (const std::bad_alloc&) {
        return false; // derived data that does not fit: the text is read instead
    } catch (const std::length_error&) {
        return false;
    }
}

void SaveSnapshot(const std::filesystem::path& path, const std::string& fingerprint, const Snapshot& snapshot) {
    CByteWriter out;
    out.Put(kMagic, sizeof kMagic);
    out.PutValue(kVersion);
    out.PutValue(static_cast<std::uint64_t>(fingerprint.size()));
    out.Put(fingerprint.data(), fingerprint.size());
    std::uint64_t textBytes = 0;
    for (const MovieRecord& movie : snapshot.movies) {
        textBytes += movie.title.size() + movie.name.size() + movie.releaseDate.size() + movie.url.size();
    }
    out.PutValue(static_cast<std::uint64_t>(snapshot.movies.size()));
    out.PutValue(static_cast<std::uint64_t>(snapshot.users.size()));
    out.PutValue(static_cast<std::uint64_t>(snapshot.ratings.Size()));
    out.PutValue(textBytes);
    for (const MovieRecord& movie : snapshot.movies) {
        out.PutValue(static_cast<std::int32_t>(movie.id));
        for (const std::string* text : {&movie.title, &movie.name, &movie.releaseDate, &movie.url}) {
            out.PutValue(static_cast<std::uint32_t>(text->size()));
        }
    }
    for (const MovieRecord& movie : snapshot.movies) {
        for (const std::string* text : {&movie.title, &movie.name, &movie.releaseDate, &movie.url}) {
            out.Put(text->data(), text->size());
        }
    }
    out.PutVector(snapshot.users);
    out.PutVector(snapshot.ratings.Offsets());
    out.PutVector(snapshot.ratings.Entries());
    const std::uint64_t sum = Checksum(out.Bytes().data(), out.Bytes().size());
    out.PutValue(sum);
    WriteCacheFile(path, out.Bytes(), std::string_view(kMagic, sizeof kMagic));
}

} // namespace quillory::data
