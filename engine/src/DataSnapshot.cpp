#include "DataSnapshot.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include <unistd.h>

#include "CacheFile.h"
#include "TextFile.h"

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

// HashBytes of the whole file, streamed in blocks so that a file of gigabytes needs no buffer of its size: the
// result equals the fingerprint the text reader computes.
std::optional<std::pair<std::uint64_t, std::uint64_t>> HashFile(const std::filesystem::path& path) {
    // A FIFO or device named as a data file must not stop the start here (the text reader reports it).
    std::uint64_t size = 0;
    std::string reason;
    const int fd = OpenRegularFile(path, size, reason);
    if (fd < 0)
        return std::nullopt;
    CContentHasher hasher(size);
    constexpr std::size_t kBlock = 1 << 20; // a multiple of 8: words never straddle blocks
    std::vector<unsigned char> block(kBlock);
    std::uint64_t total = 0;
    std::size_t filled = 0;
    std::optional<std::uint64_t> hash;
    while (!hash) {
        const ssize_t n = ::read(fd, block.data() + filled, kBlock - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        filled += static_cast<std::size_t>(n);
        total += static_cast<std::uint64_t>(n);
        if (n > 0 && filled < kBlock)
            continue;
        const std::size_t whole = filled / 8 * 8;
        hasher.AddWords(block.data(), whole);
        if (n == 0)
            hash = hasher.Finish(block.data() + whole, filled - whole);
        filled = 0;
    }
    ::close(fd);
    if (!hash || total != size) // unreadable, or the file changed while we read it
        return std::nullopt;
    return std::make_pair(*hash, size);
}

bool Valid(const Snapshot& s) {
    if (s.movies.empty() || s.movies.size() >= kMaxMovies || s.offsets.size() != s.users.size() + 1 ||
        s.offsets.front() != 0 || s.offsets.back() != s.entries.size())
        return false;
    for (std::size_t u = 0; u < s.users.size(); ++u) {
        if (s.offsets[u + 1] < s.offsets[u])
            return false;
        // Each user's entries sorted by movie, no movie twice, every index in the catalogue, stars 1..5.
        for (std::uint64_t k = s.offsets[u]; k < s.offsets[u + 1]; ++k) {
            const std::uint32_t entry = s.entries[k];
            const std::uint32_t stars = entry & 7U;
            if ((entry >> 3) >= s.movies.size() || stars < 1 || stars > 5 ||
                (k > s.offsets[u] && (s.entries[k - 1] >> 3) >= (entry >> 3)))
                return false;
        }
    }
    // Ids are keys: no movie id and no user id twice.
    std::vector<int> ids;
    ids.reserve(std::max(s.movies.size(), s.users.size()));
    for (const MovieRecord& movie : s.movies)
        ids.push_back(movie.id);
    std::sort(ids.begin(), ids.end());
    if (std::adjacent_find(ids.begin(), ids.end()) != ids.end())
        return false;
    ids.assign(s.users.begin(), s.users.end());
    std::sort(ids.begin(), ids.end());
    return std::adjacent_find(ids.begin(), ids.end()) == ids.end();
}

bool LoadChecked(const std::filesystem::path& path, const DataFingerprint& fingerprint, Snapshot& out) {
    model::CCacheFileReader file;
    if (!file.Open(path))
        return false;
    // A snapshot holds the data's content in a denser form: it can never be much longer than the files themselves.
    // Anything longer (a sparse file of gigabytes, say) is refused before it is read.
    const std::uint64_t limit = 16 * fingerprint.bytes + 4096 + fingerprint.text.size();
    if (file.Size() > limit || file.Size() < kPrefix + fingerprint.text.size() + kCounts + sizeof(std::uint64_t))
        return false;
    // One buffer, left uninitialised: it is read over at once.
    const auto size = static_cast<std::size_t>(file.Size());
    const std::unique_ptr<unsigned char[]> bytes(new unsigned char[size]);
    if (!file.Read(bytes.get(), size))
        return false;
    std::uint64_t stored = 0;
    const std::size_t body = size - sizeof stored;
    std::memcpy(&stored, bytes.get() + body, sizeof stored);
    if (model::Checksum(bytes.get(), body) != stored)
        return false;

    model::CByteReader in(bytes.get(), body);
    char magic[sizeof kMagic];
    std::uint32_t version = 0;
    std::uint64_t fingerprintSize = 0;
    if (!in.Get(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0 || !in.GetValue(version) ||
        version != kVersion || !in.GetValue(fingerprintSize) || fingerprintSize != fingerprint.text.size())
        return false;
    std::string saved;
    if (!in.GetText(saved, fingerprint.text.size()) || saved != fingerprint.text)
        return false;
    std::uint64_t movies = 0, users = 0, entries = 0, textBytes = 0;
    if (!in.GetValue(movies) || !in.GetValue(users) || !in.GetValue(entries) || !in.GetValue(textBytes))
        return false;
    // Every count against what is left of the file, before anything is sized from it.
    const std::uint64_t left = in.Left();
    if (movies > left / kMovieFixed || users > left / (sizeof(int) + sizeof(std::uint64_t)) ||
        entries > left / sizeof(std::uint32_t) || textBytes > left ||
        movies * kMovieFixed + textBytes + users * (sizeof(int) + sizeof(std::uint64_t)) + sizeof(std::uint64_t) +
                entries * sizeof(std::uint32_t) !=
            left)
        return false;

    Snapshot loaded;
    loaded.movies.resize(static_cast<std::size_t>(movies));
    std::vector<std::uint32_t> lengths(static_cast<std::size_t>(movies) * 4);
    std::uint64_t lengthSum = 0;
    for (std::size_t m = 0; m < loaded.movies.size(); ++m) {
        std::int32_t id = 0;
        if (!in.GetValue(id) || !in.Get(&lengths[m * 4], 4 * sizeof(std::uint32_t)))
            return false;
        loaded.movies[m].id = id;
        for (int k = 0; k < 4; ++k)
            lengthSum += lengths[m * 4 + static_cast<std::size_t>(k)];
    }
    if (lengthSum != textBytes)
        return false;
    for (std::size_t m = 0; m < loaded.movies.size(); ++m) {
        MovieRecord& movie = loaded.movies[m];
        if (!in.GetText(movie.title, lengths[m * 4]) || !in.GetText(movie.name, lengths[m * 4 + 1]) ||
            !in.GetText(movie.releaseDate, lengths[m * 4 + 2]) || !in.GetText(movie.url, lengths[m * 4 + 3]))
            return false;
    }
    if (!in.GetVector(loaded.users, static_cast<std::size_t>(users)) ||
        !in.GetVector(loaded.offsets, static_cast<std::size_t>(users) + 1) ||
        !in.GetVector(loaded.entries, static_cast<std::size_t>(entries)) || in.Left() != 0 || !Valid(loaded))
        return false;
    out = std::move(loaded);
    return true;
}

} // namespace

std::optional<DataFingerprint> FingerprintDataFiles(const Manifest& manifest) {
    // The same text LoadDataSet builds while it reads the files.
    DataFingerprint fingerprint;
    fingerprint.text = FingerprintStart(manifest.format);
    const auto add = [&](const char* role, const std::filesystem::path& path) {
        const auto hashed = HashFile(path);
        if (!hashed)
            return false;
        fingerprint.text += FingerprintPart(role, hashed->first, hashed->second);
        fingerprint.bytes += hashed->second;
        return true;
    };
    if (!add("movies", manifest.movies) || (manifest.format == "movielens-csv" && !add("links", manifest.links)) ||
        !add("ratings", manifest.ratings))
        return std::nullopt;
    return fingerprint;
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
    model::CByteWriter out;
    out.Put(kMagic, sizeof kMagic);
    out.PutValue(kVersion);
    out.PutValue(static_cast<std::uint64_t>(fingerprint.size()));
    out.Put(fingerprint.data(), fingerprint.size());
    std::uint64_t textBytes = 0;
    for (const MovieRecord& movie : snapshot.movies)
        textBytes += movie.title.size() + movie.name.size() + movie.releaseDate.size() + movie.url.size();
    out.PutValue(static_cast<std::uint64_t>(snapshot.movies.size()));
    out.PutValue(static_cast<std::uint64_t>(snapshot.users.size()));
    out.PutValue(static_cast<std::uint64_t>(snapshot.entries.size()));
    out.PutValue(textBytes);
    for (const MovieRecord& movie : snapshot.movies) {
        out.PutValue(static_cast<std::int32_t>(movie.id));
        for (const std::string* text : {&movie.title, &movie.name, &movie.releaseDate, &movie.url})
            out.PutValue(static_cast<std::uint32_t>(text->size()));
    }
    for (const MovieRecord& movie : snapshot.movies)
        for (const std::string* text : {&movie.title, &movie.name, &movie.releaseDate, &movie.url})
            out.Put(text->data(), text->size());
    out.PutVector(snapshot.users);
    out.PutVector(snapshot.offsets);
    out.PutVector(snapshot.entries);
    const std::uint64_t sum = model::Checksum(out.Bytes().data(), out.Bytes().size());
    out.PutValue(sum);
    model::WriteCacheFile(path, out.Bytes(), std::string_view(kMagic, sizeof kMagic));
}

} // namespace quillory::data
