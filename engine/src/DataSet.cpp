// Loading the catalogue and the ratings in the three layouts (see docs/data-files.md).
//
// Speed matters: ten million ratings must load in a few seconds on one core. Each file is read whole, lines are
// walked in memory, numbers are read with std::from_chars, and no line allocates once the buffers have grown.
#include "DataSet.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <unordered_map>

#include <fmt/format.h>

#include "EngineErrors.h"
#include "MovieTitle.h"
#include "TextFile.h"

namespace quillory::data {

namespace {

namespace fs = std::filesystem;

enum class Layout { MovieLens100k, MovieLensCsv, MovieTweetings };

Layout LayoutOf(const std::string& format) {
    if (format == "movielens-100k") {
        return Layout::MovieLens100k;
    }
    if (format == "movielens-csv") {
        return Layout::MovieLensCsv;
    }
    if (format == "movietweetings") {
        return Layout::MovieTweetings;
    }
    ThrowDataError("The data format " + QuoteExcerpt(format) +
                   " is not known; expected movielens-100k, movielens-csv or movietweetings.");
}

constexpr std::size_t kMaxFields = 32;

// Splits `line` at every `separator`. Returns the number of fields; fields past `kMaxFields` are counted, not kept.
std::size_t Split(std::string_view line, std::string_view separator, std::array<std::string_view, kMaxFields>& out) {
    std::size_t count = 0;
    if (separator.size() == 1) {
        // Fields are short: a plain scan beats a library search call per field.
        const char sep = separator[0];
        std::size_t start = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == sep) {
                if (count < kMaxFields) {
                    out[count] = line.substr(start, i - start);
                }
                ++count;
                start = i + 1;
            }
        }
        if (count < kMaxFields) {
            out[count] = line.substr(start);
        }
        return count + 1;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t at = line.find(separator, start);
        const std::string_view field =
            line.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start);
        if (count < kMaxFields) {
            out[count] = field;
        }
        ++count;
        if (at == std::string_view::npos) {
            return count;
        }
        start = at + separator.size();
    }
}

std::string FieldCountText(std::size_t expected, std::string_view separator, std::string_view names,
                           std::size_t found) {
    return fmt::format("expected {} fields separated by \"{}\" ({}), found {}.", expected,
                       separator == "\t" ? "TAB" : separator, names, found);
}

// A whole field as a number; false for anything else (blanks, signs '+', fractions, overflow).
template <typename Int> bool ParseInteger(std::string_view field, Int& out) {
    if (field.empty()) {
        return false;
    }
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), out);
    return error == std::errc() && end == field.data() + field.size();
}

// A movie or user id: a whole number from 1 to 2^31 - 1.
int ParseId(const CTextFile& file, std::string_view field, const char* what) {
    int id = 0;
    if (!ParseInteger(field, id) || id < 1) {
        file.Fail(fmt::format("expected the {} as a whole number from 1 to 2147483647, found {}.", what,
                              QuoteExcerpt(field)));
    }
    return id;
}

long long ParseTimestamp(const CTextFile& file, std::string_view field) {
    long long timestamp = 0;
    if (!ParseInteger(field, timestamp)) {
        file.Fail("expected the timestamp as a whole number of seconds, found " + QuoteExcerpt(field) + ".");
    }
    return timestamp;
}

// Reads the layout's rating and maps it onto stars 1..5 (never 0) and an unrounded value in [1, 5].
void ParseRating(const CTextFile& file, Layout layout, std::string_view field, RatingRecord& record) {
    switch (layout) {
    case Layout::MovieLens100k: {
        int stars = 0;
        if (!ParseInteger(field, stars) || stars < 1 || stars > 5) {
            file.Fail("expected a rating from 1 to 5, found " + QuoteExcerpt(field) + ".");
        }
        record.stars = stars;
        record.value = static_cast<float>(stars);
        return;
    }
    case Layout::MovieLensCsv: {
        // Half stars 0.5 .. 5.0; a half star rounds up, so 0.5 is one star and 4.5 five.
        double rating = 0.0;
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), rating);
        const double halves = rating * 2.0;
        if (field.empty() || error != std::errc() || end != field.data() + field.size() || !(halves >= 1.0) ||
            halves > 10.0 || halves != std::floor(halves)) {
            file.Fail("expected a rating from 0.5 to 5.0 in half stars, found " + QuoteExcerpt(field) + ".");
        }
        const int half = static_cast<int>(halves);
        record.stars = (half + 1) / 2;
        record.value = static_cast<float>(1.0 + (rating - 0.5) * (4.0 / 4.5));
        return;
    }
    case Layout::MovieTweetings: {
        // 0 .. 10: half the value rounded up, at least one star.
        int rating = 0;
        if (!ParseInteger(field, rating) || rating < 0 || rating > 10) {
            file.Fail("expected a rating from 0 to 10, found " + QuoteExcerpt(field) + ".");
        }
        record.stars = std::max(1, (rating + 1) / 2);
        record.value = static_cast<float>(1.0 + 0.4 * rating);
        return;
    }
    }
}

// Movie id -> catalogue index: a direct table when the ids are small enough, else a hash map.
class MovieLookup {
public:
    explicit MovieLookup(const std::vector<MovieRecord>& movies) {
        int maxId = 0;
        for (const MovieRecord& movie : movies) {
            maxId = std::max(maxId, movie.id);
        }
        if (maxId < kDirectLimit) {
            m_table.assign(static_cast<std::size_t>(maxId) + 1, kNone);
            for (std::size_t i = 0; i < movies.size(); ++i) {
                m_table[static_cast<std::size_t>(movies[i].id)] = static_cast<std::uint32_t>(i);
            }
        } else {
            m_map.reserve(movies.size());
            for (std::size_t i = 0; i < movies.size(); ++i) {
                m_map.emplace(movies[i].id, static_cast<std::uint32_t>(i));
            }
        }
    }

    // The catalogue index of `id`, or kNone.
    std::uint32_t Find(int id) const {
        if (!m_table.empty() || m_map.empty()) {
            return id >= 0 && static_cast<std::size_t>(id) < m_table.size() ? m_table[static_cast<std::size_t>(id)]
                                                                            : kNone;
        }
        const auto it = m_map.find(id);
        return it == m_map.end() ? kNone : it->second;
    }

    static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

private:
    static constexpr int kDirectLimit = 1 << 24;
    std::vector<std::uint32_t> m_table;
    std::unordered_map<int, std::uint32_t> m_map;
};

// Adds a movie, refusing a second movie with the same id.
void AddMovie(const CTextFile& file, std::vector<MovieRecord>& movies, std::vector<std::uint32_t>& lines,
              std::unordered_map<int, std::uint32_t>& seen, MovieRecord movie) {
    const auto [it, added] = seen.emplace(movie.id, file.LineNumber());
    if (!added) {
        file.Fail(fmt::format("the movie id {} is listed a second time (first on line {}); expected unique ids.",
                              movie.id, it->second));
    }
    if (movie.title.empty()) {
        file.Fail("expected a title, found an empty field.");
    }
    movie.name = MovieNameOf(movie.title);
    if (movie.releaseDate.empty()) {
        movie.releaseDate = YearOf(movie.title);
    }
    movies.push_back(std::move(movie));
    lines.push_back(file.LineNumber());
}

std::string ImdbUrl(int imdbId) {
    return fmt::format("https://www.imdb.com/title/tt{:07d}/", imdbId);
}

// Catalogue text is shown on one line of a list: it must be UTF-8 and free of control characters (C1 and the Unicode
// line separators included: a list draws them as breaks or boxes). A carriage return
// that does not end a line is what a broken line end leaves behind, so it is named as such. TAB is a blank, and a
// line break inside a quoted CSV field is legal CSV.
void CheckText(const CTextFile& file, std::string_view text) {
    if (!IsValidUtf8(text)) {
        file.Fail("expected UTF-8 text; the line holds bytes of another encoding.");
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // Titles are mostly printable ASCII and letters: only these bytes can begin a control character.
        if (c >= 0x20 && c != 0x7F && c != 0xC2 && c != 0xE2) {
            continue;
        }
        if (c == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) {
            file.Fail("expected lines to end with LF or CRLF; found a carriage return inside the line.");
        }
        if (const long control = ControlCharacterAt(text, i); control >= 0x80) {
            file.Fail(fmt::format("expected text without control characters; found the character U+{:04X}.", control));
        } else if (control >= 0) {
            file.Fail(fmt::format("expected text without control characters; found the byte 0x{:02X}.", c));
        }
    }
}

std::vector<MovieRecord> LoadMovies100k(CTextFile& file) {
    // Latin-1 unless the file is UTF-8: declared by a byte-order mark, or valid UTF-8 throughout (a copy someone
    // converted). Latin-1 text with accents is practically never valid UTF-8, and converting UTF-8 a second time
    // would turn every accent into two wrong characters.
    if (!file.HadByteOrderMark() && !IsValidUtf8(file.Rest())) {
        file.ConvertLatin1ToUtf8();
    }
    std::vector<MovieRecord> movies;
    std::vector<std::uint32_t> lines;
    std::unordered_map<int, std::uint32_t> seen;
    std::array<std::string_view, kMaxFields> fields;
    std::string_view line;
    constexpr std::size_t kFields = 24; // id|title|release date|video release date|URL| and 19 genre flags
    while (file.NextLine(line)) {
        if (line.empty()) {
            continue;
        }
        CheckText(file, line);
        const std::size_t count = Split(line, "|", fields);
        if (count != kFields) {
            file.Fail(FieldCountText(kFields, "|", "id|title|release date|video release date|URL| and 19 genre flags",
                                     count));
        }
        for (std::size_t i = 5; i < kFields; ++i) {
            if (fields[i] != "0" && fields[i] != "1") {
                file.Fail(
                    fmt::format("expected a genre flag 0 or 1 in field {}, found {}.", i + 1, QuoteExcerpt(fields[i])));
            }
        }
        MovieRecord movie;
        movie.id = ParseId(file, fields[0], "movie id");
        movie.title = std::string(TrimBlanks(fields[1]));
        movie.releaseDate = std::string(TrimBlanks(fields[2]));
        movie.url = std::string(TrimBlanks(fields[4]));
        AddMovie(file, movies, lines, seen, std::move(movie));
    }
    return movies;
}

std::vector<MovieRecord> LoadMoviesTweetings(CTextFile& file) {
    std::vector<MovieRecord> movies;
    std::vector<std::uint32_t> lines;
    std::unordered_map<int, std::uint32_t> seen;
    std::array<std::string_view, kMaxFields> fields;
    std::string_view line;
    while (file.NextLine(line)) {
        if (line.empty()) {
            continue;
        }
        CheckText(file, line);
        const std::size_t count = Split(line, "::", fields);
        if (count != 3) {
            file.Fail(FieldCountText(3, "::", "imdb_id::Title (Year)::Genres", count));
        }
        MovieRecord movie;
        movie.id = ParseId(file, fields[0], "IMDb id");
        movie.title = std::string(TrimBlanks(fields[1]));
        movie.url = ImdbUrl(movie.id);
        AddMovie(file, movies, lines, seen, std::move(movie));
    }
    return movies;
}

// Reads the header record of a CSV file and checks it names the expected columns.
void ExpectCsvHeader(CTextFile& file, std::vector<std::string>& fields, std::initializer_list<std::string_view> names) {
    std::string expected;
    for (const std::string_view name : names) {
        if (!expected.empty()) {
            expected += ',';
        }
        expected.append(name);
    }
    std::size_t count = 0;
    while ((count = file.NextCsvRecord(fields)) == 1 && fields[0].empty()) {
    }
    if (count == 0) {
        ThrowDataError(file.Path().string() + ": the file is empty; expected the header line " + expected + ".");
    }
    bool ok = count == names.size();
    std::size_t i = 0;
    for (const std::string_view name : names) {
        ok = ok && fields[i++] == name;
    }
    if (!ok) {
        file.Fail("expected the header line " + expected + ".");
    }
}

std::vector<MovieRecord> LoadMoviesCsv(CTextFile& file) {
    std::vector<MovieRecord> movies;
    std::vector<std::uint32_t> lines;
    std::unordered_map<int, std::uint32_t> seen;
    std::vector<std::string> fields;
    ExpectCsvHeader(file, fields, {"movieId", "title", "genres"});
    std::size_t count = 0;
    while ((count = file.NextCsvRecord(fields)) > 0) {
        if (count == 1 && fields[0].empty()) {
            continue;
        }
        for (std::size_t i = 0; i < count; ++i) {
            CheckText(file, fields[i]);
        }
        if (count != 3) {
            file.Fail(FieldCountText(3, ",", "movieId,title,genres", count));
        }
        MovieRecord movie;
        movie.id = ParseId(file, fields[0], "movie id");
        movie.title = std::string(TrimBlanks(fields[1]));
        movie.url = fmt::format("https://movielens.org/movies/{}", movie.id);
        AddMovie(file, movies, lines, seen, std::move(movie));
    }
    return movies;
}

// links.csv: movieId,imdbId,tmdbId. A movie with an IMDb id gets its IMDb page as URL.
void LoadLinks(CTextFile& file, std::vector<MovieRecord>& movies) {
    const MovieLookup lookup(movies);
    std::vector<std::uint32_t> lineOf(movies.size(), 0);
    std::vector<std::string> fields;
    ExpectCsvHeader(file, fields, {"movieId", "imdbId", "tmdbId"});
    std::size_t count = 0;
    while ((count = file.NextCsvRecord(fields)) > 0) {
        if (count == 1 && fields[0].empty()) {
            continue;
        }
        if (count != 3) {
            file.Fail(FieldCountText(3, ",", "movieId,imdbId,tmdbId", count));
        }
        const int movieId = ParseId(file, fields[0], "movie id");
        const std::uint32_t index = lookup.Find(movieId);
        if (index == MovieLookup::kNone) {
            file.Fail(fmt::format("the movie id {} is not in the catalogue {}.", movieId, file.Path().string()));
        }
        if (lineOf[index] != 0) {
            file.Fail(
                fmt::format("the movie id {} is linked a second time (first on line {}).", movieId, lineOf[index]));
        }
        lineOf[index] = file.LineNumber();
        int tmdbId = 0;
        if (!fields[2].empty() && !ParseInteger(std::string_view(fields[2]), tmdbId)) {
            file.Fail("expected the TMDb id as a whole number or nothing, found " + QuoteExcerpt(fields[2]) + ".");
        }
        if (!fields[1].empty()) {
            movies[index].url = ImdbUrl(ParseId(file, fields[1], "IMDb id"));
        }
    }
}

// Reads the ratings of `file` in `layout` against the catalogue; fills `lines` with each rating's line number.
std::vector<RatingRecord> ParseRatings(CTextFile& file, Layout layout, const MovieLookup& lookup,
                                       std::vector<std::uint32_t>& lines) {
    std::vector<RatingRecord> ratings;
    // A line holds at least 8 bytes ("1\t1\t1\t1\n"); reserving for the newlines found avoids regrowing 10M records.
    ratings.reserve(static_cast<std::size_t>(file.Size() / 16) + 16);
    lines.reserve(ratings.capacity());

    std::array<std::string_view, kMaxFields> fields;
    std::vector<std::string> csvFields;
    std::array<std::string_view, kMaxFields> csvViews;
    const std::string_view separator = layout == Layout::MovieLens100k ? "\t" : "::";
    const char* names =
        layout == Layout::MovieLens100k ? "user TAB movie TAB rating TAB timestamp" : "user::movie::rating::timestamp";
    if (layout == Layout::MovieLensCsv) {
        ExpectCsvHeader(file, csvFields, {"userId", "movieId", "rating", "timestamp"});
    }
    std::string_view line;
    while (true) {
        std::size_t count = 0;
        const std::array<std::string_view, kMaxFields>* row = &fields;
        if (layout == Layout::MovieLensCsv) {
            // Rating lines seldom hold quotes: split them in place, and take the full CSV reader only when they do.
            const CTextFile::LineKind kind = file.NextUnquotedLine(line);
            if (kind == CTextFile::LineKind::End) {
                break;
            }
            if (kind == CTextFile::LineKind::Line) {
                if (line.empty()) {
                    continue;
                }
                count = Split(line, ",", fields);
            } else {
                count = file.NextCsvRecord(csvFields);
                if (count == 1 && csvFields[0].empty()) {
                    continue;
                }
                for (std::size_t i = 0; i < std::min(count, kMaxFields); ++i) {
                    csvViews[i] = csvFields[i];
                }
                row = &csvViews;
            }
            if (count != 4) {
                file.Fail(FieldCountText(4, ",", "userId,movieId,rating,timestamp", count));
            }
        } else {
            if (!file.NextLine(line)) {
                break;
            }
            if (line.empty()) {
                continue;
            }
            count = Split(line, separator, fields);
            if (count != 4) {
                file.Fail(FieldCountText(4, separator, names, count));
            }
        }
        const auto& f = *row;
        RatingRecord record;
        record.user = ParseId(file, f[0], "user id");
        record.movie = ParseId(file, f[1], "movie id");
        ParseRating(file, layout, f[2], record);
        record.timestamp = ParseTimestamp(file, f[3]);
        record.item = lookup.Find(record.movie);
        if (record.item == MovieLookup::kNone) {
            file.Fail(fmt::format("the movie id {} is not in the catalogue; expected a movie of the movies file.",
                                  record.movie));
        }
        ratings.push_back(record);
        lines.push_back(file.LineNumber());
    }
    return ratings;
}

// Numbers the users in order of first appearance and refuses a second rating of the same movie by the same user.
void NumberUsersAndCheckPairs(const CTextFile& file, std::vector<RatingRecord>& ratings,
                              const std::vector<std::uint32_t>& lines, std::vector<int>* usersOut) {
    int maxUser = 0;
    for (const RatingRecord& r : ratings) {
        maxUser = std::max(maxUser, r.user);
    }
    std::vector<int> users;
    constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    if (maxUser < (1 << 24)) {
        std::vector<std::uint32_t> table(static_cast<std::size_t>(maxUser) + 1, kNone);
        for (RatingRecord& r : ratings) {
            std::uint32_t& index = table[static_cast<std::size_t>(r.user)];
            if (index == kNone) {
                index = static_cast<std::uint32_t>(users.size());
                users.push_back(r.user);
            }
            r.userIndex = index;
        }
    } else {
        std::unordered_map<int, std::uint32_t> table;
        int lastUser = 0;
        std::uint32_t lastIndex = 0;
        for (RatingRecord& r : ratings) {
            if (r.user != lastUser) {
                const auto [it, added] = table.emplace(r.user, static_cast<std::uint32_t>(users.size()));
                if (added) {
                    users.push_back(r.user);
                }
                lastUser = r.user;
                lastIndex = it->second;
            }
            r.userIndex = lastIndex;
        }
    }

    // Group the ratings by user (counting sort), then sort each user's few ratings by movie: duplicates are neighbours.
    std::vector<std::uint32_t> offsets(users.size() + 1, 0);
    for (const RatingRecord& r : ratings) {
        ++offsets[r.userIndex + 1];
    }
    for (std::size_t u = 0; u < users.size(); ++u) {
        offsets[u + 1] += offsets[u];
    }
    std::vector<std::uint32_t> order(ratings.size());
    {
        std::vector<std::uint32_t> next(offsets.begin(), offsets.end() - 1);
        for (std::size_t i = 0; i < ratings.size(); ++i) {
            order[next[ratings[i].userIndex]++] = static_cast<std::uint32_t>(i);
        }
    }
    std::size_t firstDuplicate = std::numeric_limits<std::size_t>::max();
    std::size_t firstOriginal = 0;
    std::vector<std::uint64_t> keys; // (movie index << 32) | rating index: sorting orders by movie, then file order
    for (std::size_t u = 0; u < users.size(); ++u) {
        keys.clear();
        for (std::uint32_t k = offsets[u]; k < offsets[u + 1]; ++k) {
            keys.push_back((std::uint64_t{ratings[order[k]].item} << 32) | order[k]);
        }
        std::sort(keys.begin(), keys.end());
        for (std::size_t k = 1; k < keys.size(); ++k) {
            const std::size_t later = keys[k] & 0xFFFFFFFFU;
            if ((keys[k] >> 32) == (keys[k - 1] >> 32) && later < firstDuplicate) {
                firstDuplicate = later;
                firstOriginal = keys[k - 1] & 0xFFFFFFFFU;
            }
        }
    }
    if (firstDuplicate != std::numeric_limits<std::size_t>::max()) {
        const RatingRecord& r = ratings[firstDuplicate];
        ThrowDataError(fmt::format("{}, line {}: user {} rates movie {} a second time (first on line {}); expected "
                                   "one rating per user and movie.",
                                   file.Path().string(), lines[firstDuplicate], r.user, r.movie, lines[firstOriginal]));
    }
    if (usersOut != nullptr) {
        *usersOut = std::move(users);
    }
}

std::vector<MovieRecord> LoadMovies(CTextFile& file, Layout layout) {
    switch (layout) {
    case Layout::MovieLens100k:
        return LoadMovies100k(file);
    case Layout::MovieLensCsv:
        return LoadMoviesCsv(file);
    case Layout::MovieTweetings:
        return LoadMoviesTweetings(file);
    }
    return {};
}

std::vector<RatingRecord> LoadRatings(const fs::path& path, Layout layout, const std::vector<MovieRecord>& catalogue,
                                      std::vector<int>* users, std::string* fingerprint) {
    CTextFile file(path, "ratings file");
    if (fingerprint != nullptr) {
        *fingerprint += FingerprintPart("ratings", file.ContentHash(), file.Size());
    }
    const MovieLookup lookup(catalogue);
    std::vector<std::uint32_t> lines;
    std::vector<RatingRecord> ratings = ParseRatings(file, layout, lookup, lines);
    file.Release();
    NumberUsersAndCheckPairs(file, ratings, lines, users);
    return ratings;
}

// Runs the loading of one file. Loading allocates in proportion to the file, so running out of memory is a property
// of that file like a malformed line: it, and any other failure of the library underneath, leaves as CMException
// naming the file, never as a bare exception the window could only call an unknown error.
template <typename Step> void LoadingFile(const fs::path& path, const char* role, Step&& step) {
    try {
        step();
    } catch (const std::bad_alloc&) {
        ThrowDataError(fmt::format("Not enough memory to load the {} {}.", role, path.string()));
    } catch (const std::exception& failure) {
        ThrowDataError(fmt::format("Loading the {} {} failed: {}", role, path.string(), failure.what()));
    }
}

} // namespace

std::string FingerprintStart(const std::string& format) {
    return "format:" + format + ";";
}

std::string FingerprintPart(std::string_view role, std::uint64_t hash, std::uint64_t size) {
    return fmt::format("{}:{:016x}:{};", role, hash, size);
}

DataSet LoadDataSet(const Manifest& manifest) {
    const Layout layout = LayoutOf(manifest.format);
    DataSet data;
    data.manifest = manifest;
    data.fingerprint = FingerprintStart(manifest.format);
    LoadingFile(manifest.movies, "movies file", [&] {
        CTextFile movies(manifest.movies, "movies file");
        data.fingerprint += FingerprintPart("movies", movies.ContentHash(), movies.Size());
        data.movies = LoadMovies(movies, layout);
    });
    if (data.movies.empty()) {
        ThrowDataError("The movies file " + manifest.movies.string() + " lists no movie; expected at least one.");
    }
    if (layout == Layout::MovieLensCsv) {
        LoadingFile(manifest.links, "links file", [&] {
            CTextFile links(manifest.links, "links file");
            data.fingerprint += FingerprintPart("links", links.ContentHash(), links.Size());
            LoadLinks(links, data.movies);
        });
    }
    LoadingFile(manifest.ratings, "ratings file", [&] {
        data.ratings = LoadRatings(manifest.ratings, layout, data.movies, &data.users, &data.fingerprint);
    });
    return data;
}

std::vector<RatingRecord> LoadRatingsFile(const fs::path& path, const std::string& format,
                                          const std::vector<MovieRecord>& catalogue) {
    const Layout layout = LayoutOf(format);
    std::vector<RatingRecord> ratings;
    LoadingFile(path, "ratings file", [&] { ratings = LoadRatings(path, layout, catalogue, nullptr, nullptr); });
    return ratings;
}

} // namespace quillory::data
