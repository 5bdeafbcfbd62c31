#include "DataSnapshot.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "ChunkThreads.h"
#include "DerivedFileHeader.h"
#include "EngineErrors.h"
#include "Utf8Text.h"

// The file: magic "QLRSNAPS", version (u32), fingerprint length (u64) and bytes, the counts (u64 each: movies,
// users, entries, text bytes, genres), then per movie its id (i32), the lengths of its four texts (u32 each) and its
// genre set (u64), the length of each genre's name (u32), the movies' texts one after another and the genres' names
// after them, the user ids (i32), the offsets (u64), the entries (u32), and a checksum (u64) of all before (the frame
// is DerivedFileHeader's). Version 1 had no genres: its files are refused by their version and made again.
// The checksum finds damage, not tampering: every count, id, index and text is checked as the text readers would.

namespace quillory::data {

namespace {

constexpr DerivedFileFormat kFormat{"QLRSNAPS", 2};
constexpr std::size_t kCounts = 5 * sizeof(std::uint64_t);
constexpr std::size_t kMovieFixed = sizeof(std::int32_t) + 4 * sizeof(std::uint32_t) + sizeof(GenreSet);
constexpr std::size_t kGenreFixed = sizeof(std::uint32_t); // a genre's name length

constexpr std::size_t kUserFixed = sizeof(std::int32_t) + sizeof(std::uint64_t); // a user's id and offset

// Text as the catalogue readers let it through: UTF-8 without control characters (TAB and line ends are judged by
// the readers, and a quoted CSV field may hold a line break).
bool IsCatalogueText(std::string_view text) {
    if (!IsValidUtf8(text)) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (ControlCharacterAt(text, i) >= 0) {
            return false;
        }
    }
    return true;
}

// Ids are keys within the data's ranges: movie ids from 1 up, data user ids from 1 to below the accounts' range,
// none twice.
bool HasDistinctIds(std::vector<int> ids, int first, long end) {
    if (std::any_of(ids.begin(), ids.end(), [&](int id) { return id < first || id >= end; })) {
        return false;
    }
    std::sort(ids.begin(), ids.end());
    return std::adjacent_find(ids.begin(), ids.end()) == ids.end();
}

// The genre table as the catalogue readers leave it: at most kMaxGenres names, none empty, each once and in the
// order of their bytes, each the genre of some movie, and no movie with a genre past the table's end.
bool ValidGenres(const Snapshot& s) {
    const std::vector<std::string>& names = s.genres;
    if (names.size() > kMaxGenres ||
        std::any_of(names.begin(), names.end(),
                    [](const std::string& name) { return name.empty() || !IsCatalogueText(name); }) ||
        std::adjacent_find(names.begin(), names.end(), std::greater_equal<>()) != names.end()) {
        return false;
    }
    GenreSet used = 0;
    for (const MovieRecord& movie : s.movies) {
        used |= movie.genres;
    }
    const GenreSet table = names.size() == kMaxGenres ? ~GenreSet{0} : (GenreSet{1} << names.size()) - 1;
    return used == table;
}

bool Valid(const Snapshot& s) {
    if (s.movies.empty() || s.movies.size() >= CRatingIndex::kMaxItems || s.ratings.Users() != s.users.size() ||
        !s.ratings.IsWellFormed(s.movies.size())) {
        return false;
    }
    // Every data user comes from a line of the ratings file: none without a rating.
    const std::vector<std::uint64_t>& offsets = s.ratings.Offsets();
    if (std::adjacent_find(offsets.begin(), offsets.end()) != offsets.end()) {
        return false;
    }
    std::vector<int> ids;
    ids.reserve(s.movies.size());
    for (const MovieRecord& movie : s.movies) {
        if (!IsCatalogueText(movie.title) || !IsCatalogueText(movie.name) || !IsCatalogueText(movie.releaseDate) ||
            !IsCatalogueText(movie.url)) {
            return false;
        }
        ids.push_back(movie.id);
    }
    return ValidGenres(s) && HasDistinctIds(std::move(ids), 1, std::numeric_limits<std::int32_t>::max() + 1L) &&
           HasDistinctIds(s.users, 1, kDataUserIdEnd);
}

// The counts of a snapshot's header.
struct Counts {
    std::uint64_t movies = 0, users = 0, entries = 0, textBytes = 0, genres = 0;
};

// Whether the counts fit the data they claim to come from, and add up to the file's length exactly. Each bound is
// one the readers cannot exceed: a movie or a rating takes a line of at least two bytes of its file (an id and a
// separator); every data user has a rating; a movie's four texts are its title twice (the name is never longer),
// its date and its address, each at most twice the bytes it takes in the file (Latin-1 becomes UTF-8) or, made by
// the reader, a year and an address of at most 64 bytes; a genre's name is in the file too, or one of u.item's names
// of less than 64 bytes.
bool CountsFit(const Counts& c, const DataFingerprint& data, std::uint64_t headerBytes, std::uint64_t fileBytes) {
    if (c.movies > data.moviesBytes / 2 || c.entries > data.ratingsBytes / 2 || c.users > c.entries ||
        c.genres > kMaxGenres || data.moviesBytes > std::numeric_limits<std::uint64_t>::max() / 8 ||
        c.textBytes > 4 * data.moviesBytes + 64 * c.movies + 64 * c.genres) {
        return false;
    }
    // Each part no longer than the file: the sum below cannot overflow.
    if (c.movies > fileBytes / kMovieFixed || c.users > fileBytes / kUserFixed ||
        c.entries > fileBytes / sizeof(std::uint32_t) || c.textBytes > fileBytes) {
        return false;
    }
    return headerBytes + c.movies * kMovieFixed + c.genres * kGenreFixed + c.textBytes + c.users * kUserFixed +
               sizeof(std::uint64_t) + c.entries * sizeof(std::uint32_t) + sizeof(std::uint64_t) ==
           fileBytes;
}

// The longest fingerprint a snapshot may name: a few file hashes and lengths take far less.
constexpr std::uint64_t kMaxFingerprint = 4096;

// Reads the header and its counts, checked against the data's own sizes and the file's length before anything is
// sized from them.
bool ReadCounts(CDerivedFileReader& file, const DataFingerprint& sizes, Counts& counts) {
    if (!file.ReadHeader(kFormat, {DerivedKey::AnyUpTo(kMaxFingerprint)}, kCounts)) {
        return false;
    }
    CByteReader in = file.Counts();
    return in.GetValue(counts.movies) && in.GetValue(counts.users) && in.GetValue(counts.entries) &&
           in.GetValue(counts.textBytes) && in.GetValue(counts.genres) &&
           CountsFit(counts, sizes, file.HeaderSize(), file.Size());
}

// The movies and the genre table from the front of the body: first each movie's id, its texts' lengths and its
// genre set, then each genre name's length, which must all add up to the count of the header, then the texts.
bool ReadMovies(CByteReader& in, const Counts& counts, std::vector<MovieRecord>& movies,
                std::vector<std::string>& genres) {
    movies.resize(static_cast<std::size_t>(counts.movies));
    genres.resize(static_cast<std::size_t>(counts.genres));
    std::vector<std::uint32_t> lengths(static_cast<std::size_t>(counts.movies) * 4);
    std::vector<std::uint32_t> genreLengths;
    std::uint64_t lengthSum = 0;
    for (std::size_t m = 0; m < movies.size(); ++m) {
        std::int32_t id = 0;
        if (!in.GetValue(id) || !in.Get(&lengths[m * 4], 4 * sizeof(std::uint32_t)) || !in.GetValue(movies[m].genres)) {
            return false;
        }
        movies[m].id = id;
        for (int k = 0; k < 4; ++k) {
            lengthSum += lengths[m * 4 + static_cast<std::size_t>(k)];
        }
    }
    if (!in.GetVector(genreLengths, genres.size())) {
        return false;
    }
    for (const std::uint32_t length : genreLengths) {
        lengthSum += length;
    }
    if (lengthSum != counts.textBytes) {
        return false;
    }
    for (std::size_t m = 0; m < movies.size(); ++m) {
        MovieRecord& movie = movies[m];
        if (!in.GetText(movie.title, lengths[m * 4]) || !in.GetText(movie.name, lengths[m * 4 + 1]) ||
            !in.GetText(movie.releaseDate, lengths[m * 4 + 2]) || !in.GetText(movie.url, lengths[m * 4 + 3])) {
            return false;
        }
    }
    for (std::size_t g = 0; g < genres.size(); ++g) {
        if (!in.GetText(genres[g], genreLengths[g])) {
            return false;
        }
    }
    return true;
}

// `sizes` holds the data files' lengths (its text is not read); `madeFrom(saved)` says whether the fingerprint the
// file was saved with is the data's. It is asked last, when everything else about the file is known to be right.
bool LoadChecked(const std::filesystem::path& path, const DataFingerprint& sizes,
                 const std::function<bool(const std::string&)>& madeFrom, Snapshot& out) {
    CDerivedFileReader file;
    // A snapshot holds the data's content in a denser form: it can never be much longer than the files themselves.
    // Anything longer (a sparse file of gigabytes, say) is refused before it is read.
    Counts counts;
    if (!file.Open(path) || file.Size() > 16 * sizes.bytes + 4096 + kMaxFingerprint ||
        !ReadCounts(file, sizes, counts)) {
        return false;
    }

    // The body is read straight into what it fills: the movies, their texts, the user ids and the offsets into one
    // buffer, left uninitialised, and the entries, nearly all of a large file, into the index's own array. The
    // checksum follows the parts as they come.
    const std::size_t entryBytes = static_cast<std::size_t>(counts.entries) * sizeof(std::uint32_t);
    const std::size_t frontBytes = static_cast<std::size_t>(file.BodySize()) - entryBytes;
    const std::unique_ptr<unsigned char[]> front(new unsigned char[frontBytes]);
    std::vector<std::uint32_t> packed(static_cast<std::size_t>(counts.entries));
    if (!file.Body().Get(front.get(), frontBytes) || !file.Body().Get(packed.data(), entryBytes) ||
        !file.ChecksumRight()) {
        return false;
    }

    CByteReader in(front.get(), frontBytes);
    Snapshot loaded;
    std::vector<std::uint64_t> offsets;
    if (!ReadMovies(in, counts, loaded.movies, loaded.genres) ||
        !in.GetVector(loaded.users, static_cast<std::size_t>(counts.users)) ||
        !in.GetVector(offsets, static_cast<std::size_t>(counts.users) + 1) || in.Left() != 0) {
        return false;
    }
    loaded.ratings = CRatingIndex(std::move(offsets), std::move(packed));
    if (!Valid(loaded) || !madeFrom(file.Key(0))) {
        return false;
    }
    out = std::move(loaded);
    return true;
}

} // namespace

Snapshot BuildSnapshot(DataSet& data) {
    if (data.movies.size() >= CRatingIndex::kMaxItems) {
        ThrowDataError("The movies file " + data.manifest.movies.string() +
                       " lists more movies than Quillory can hold.");
    }
    // The ratings' order in the index was found when their users were numbered: each position becomes the entry of
    // its rating, in place, in blocks over the loading threads.
    std::vector<std::uint32_t> entries = std::move(data.order.positions);
    constexpr std::size_t kBlock = std::size_t{1} << 20;
    RunChunks(LoadingThreads(), (entries.size() + kBlock - 1) / kBlock, [&](std::size_t block) {
        const std::size_t last = std::min(entries.size(), (block + 1) * kBlock);
        for (std::size_t k = block * kBlock; k < last; ++k) {
            const RatingRecord& rating = data.ratings[entries[k]];
            entries[k] = CRatingIndex::Pack(rating.item, rating.stars);
        }
    });
    Snapshot snapshot;
    snapshot.ratings = CRatingIndex(std::move(data.order.userStarts), std::move(entries));
    data.order = IndexOrder();
    snapshot.movies = std::move(data.movies);
    snapshot.genres = std::move(data.genres);
    snapshot.users = std::move(data.users);
    return snapshot;
}

bool LoadSnapshot(const std::filesystem::path& path, const DataFingerprint& fingerprint, Snapshot& out) {
    return LoadSnapshot(
        path, fingerprint, [&](const std::string& saved) { return saved == fingerprint.text; }, out);
}

bool LoadSnapshot(const std::filesystem::path& path, const DataFingerprint& sizes,
                  const std::function<bool(const std::string&)>& madeFrom, Snapshot& out) {
    try {
        return LoadChecked(path, sizes, madeFrom, out);
    } catch (const std::bad_alloc&) {
        return false; // derived data that does not fit: the text is read instead
    } catch (const std::length_error&) {
        return false;
    }
}

void SaveSnapshot(const std::filesystem::path& path, const std::string& fingerprint, const Snapshot& snapshot) {
    std::uint64_t textBytes = 0;
    for (const MovieRecord& movie : snapshot.movies) {
        textBytes += movie.title.size() + movie.name.size() + movie.releaseDate.size() + movie.url.size();
    }
    for (const std::string& genre : snapshot.genres) {
        textBytes += genre.size();
    }
    // Written as it is put: on large data the file is a copy of the ratings, never held whole.
    WriteDerivedFile(path, kFormat, {fingerprint}, [&](CByteWriter& out) {
        out.PutValue(static_cast<std::uint64_t>(snapshot.movies.size()));
        out.PutValue(static_cast<std::uint64_t>(snapshot.users.size()));
        out.PutValue(static_cast<std::uint64_t>(snapshot.ratings.Size()));
        out.PutValue(textBytes);
        out.PutValue(static_cast<std::uint64_t>(snapshot.genres.size()));
        for (const MovieRecord& movie : snapshot.movies) {
            out.PutValue(static_cast<std::int32_t>(movie.id));
            for (const std::string* text : {&movie.title, &movie.name, &movie.releaseDate, &movie.url}) {
                out.PutValue(static_cast<std::uint32_t>(text->size()));
            }
            out.PutValue(movie.genres);
        }
        for (const std::string& genre : snapshot.genres) {
            out.PutValue(static_cast<std::uint32_t>(genre.size()));
        }
        for (const MovieRecord& movie : snapshot.movies) {
            for (const std::string* text : {&movie.title, &movie.name, &movie.releaseDate, &movie.url}) {
                out.Put(text->data(), text->size());
            }
        }
        for (const std::string& genre : snapshot.genres) {
            out.Put(genre.data(), genre.size());
        }
        out.PutVector(snapshot.users);
        out.PutVector(snapshot.ratings.Offsets());
        out.PutVector(snapshot.ratings.Entries());
    });
}

} // namespace quillory::data
