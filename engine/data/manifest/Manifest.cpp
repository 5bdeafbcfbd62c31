// The manifest: the small text file that names the data layout and the files of a data folder.
#include "Manifest.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <unistd.h>

#include <fmt/format.h>

#include "DataFolders.h"
#include "DerivedFileNames.h"
#include "EngineErrors.h"
#include "QuoteExcerpt.h"
#include "RegularFile.h"
#include "TextFile.h"
#include "TrimBlanks.h"
#include "Utf8Text.h"

namespace quillory::data {

namespace {

namespace fs = std::filesystem;

std::string WithSlashes(std::string text) {
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

// Something is there; whether it is a file that can be read is for the reader to say, with a reason.
bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

// Finds the manifest: an absolute path as it is; a relative one in each folder of ManifestFolders, in order.
fs::path LocateManifest(const std::string& given, const Surroundings& surroundings) {
    fs::path path(WithSlashes(given));
    if (given.empty()) {
        ThrowDataError("No manifest was named: expected the path of a data folder's files.txt.");
    }
    if (path.is_absolute()) {
        if (!Exists(path)) {
            ThrowDataError("Cannot find the manifest " + path.string() + ".");
        }
        return path;
    }
    std::string looked;
    for (const fs::path& folder : ManifestFolders(surroundings)) {
        fs::path candidate = folder / path;
        if (Exists(candidate)) {
            return candidate;
        }
        looked += (looked.empty() ? "" : ", ") + candidate.string();
    }
    ThrowDataError("Cannot find the manifest " + path.string() + ". It was looked for as " + looked + ".");
}

bool IsServerStore(std::string_view value) {
    return value.starts_with("postgresql://") || value.starts_with("postgres://");
}

// Whether two paths name the same file once symbolic links and ".." are resolved (hard links too, when both exist).
bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    const fs::path ca = fs::weakly_canonical(a, error);
    if (!error) {
        const fs::path cb = fs::weakly_canonical(b, error);
        if (!error && ca == cb) {
            return true;
        }
    }
    return fs::equivalent(a, b, error) && !error;
}

// Throws the manifest's error: "<manifest>, line <n>: <what>", without the line when `line` is 0.
[[noreturn]] void Fail(const fs::path& manifest, std::uint32_t line, const std::string& what) {
    ThrowDataError(manifest.string() + (line > 0 ? ", line " + std::to_string(line) : std::string()) + ": " + what);
}

struct Entry {
    std::string value;
    std::uint32_t line = 0; // 0: the key is not given
};

constexpr std::array<std::string_view, 5> kKeys = {"format", "movies", "ratings", "links", "store"};

// The manifest's lines by key.
struct Entries {
    std::array<Entry, kKeys.size()> byKey; // in the order of kKeys

    // `key` is one of kKeys.
    const Entry& At(std::string_view key) const {
        return byKey[static_cast<std::size_t>(std::find(kKeys.begin(), kKeys.end(), key) - kKeys.begin())];
    }
};

// Refuses a line that is not clean text: one that is not UTF-8, or holds a control character or a carriage return.
void CheckLineText(const fs::path& manifest, std::uint32_t number, std::string_view line) {
    if (!IsValidUtf8(line)) {
        Fail(manifest, number, "expected UTF-8 text.");
    }
    // A carriage return inside a line is a broken line end: reading on would merge two lines into one value.
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r') {
            Fail(manifest, number, "expected lines to end with LF or CRLF; found a carriage return inside the line.");
        }
        if (ControlCharacterAt(line, i) >= 0) {
            Fail(manifest, number, "expected text without control characters.");
        }
    }
}

// Reads the manifest's "key = value" lines, skipping blank lines and comments; refuses unknown, repeated, empty and
// missing keys.
Entries ReadEntries(const fs::path& manifest) {
    CTextFile text(manifest, "manifest");
    Entries entries;
    std::string_view line;
    while (text.NextLine(line)) {
        const std::uint32_t number = text.LineNumber();
        const std::string_view trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        CheckLineText(manifest, number, trimmed);
        const std::size_t equals = trimmed.find('=');
        if (equals == std::string_view::npos) {
            Fail(manifest, number, "expected a line \"key = value\", found " + QuoteExcerpt(trimmed) + ".");
        }
        const std::string_view key = TrimBlanks(trimmed.substr(0, equals));
        const std::string_view value = TrimBlanks(trimmed.substr(equals + 1));
        const auto known = std::find(kKeys.begin(), kKeys.end(), key);
        if (known == kKeys.end()) {
            Fail(manifest, number,
                 "unknown key " + QuoteExcerpt(key) + "; expected format, movies, ratings, links or store.");
        }
        Entry& entry = entries.byKey[static_cast<std::size_t>(known - kKeys.begin())];
        if (entry.line != 0) {
            Fail(manifest, number,
                 "the key \"" + std::string(key) + "\" is given again (first on line " + std::to_string(entry.line) +
                     ").");
        }
        if (value.empty()) {
            Fail(manifest, number, "the key \"" + std::string(key) + "\" has no value.");
        }
        entry = Entry{std::string(value), number};
    }
    for (const std::string_view key : {"format", "movies", "ratings", "store"}) {
        if (entries.At(key).line == 0) {
            Fail(manifest, 0, "the key \"" + std::string(key) + "\" is missing.");
        }
    }
    return entries;
}

// The layout the format names, with the links file it needs or must not have.
Layout ReadLayout(const fs::path& manifest, const Entries& entries) {
    const Entry& format = entries.At("format");
    const LayoutDescription* layout = FindLayout(format.value);
    if (layout == nullptr) {
        Fail(manifest, format.line,
             "the format " + QuoteExcerpt(format.value) + " is not known; expected " + FormatsText() + ".");
    }
    const Entry& links = entries.At("links");
    if (layout->needsLinks && links.line == 0) {
        Fail(manifest, 0,
             "the key \"links\" is missing; the " + std::string(layout->format) +
                 " format needs links.csv for the movies' web addresses.");
    }
    if (!layout->needsLinks && links.line != 0) {
        Fail(manifest, links.line,
             "the key \"links\" belongs to the " +
                 FormatsText([](const LayoutDescription& other) { return other.needsLinks; }) + " format only.");
    }
    return layout->layout;
}

// The file that `key` names, against the manifest's folder; when `mustOpen`, one that can be opened for reading.
fs::path ResolveFile(const fs::path& manifest, const Entries& entries, std::string_view key, bool mustOpen) {
    const Entry& entry = entries.At(key);
    fs::path file = manifest.parent_path() / fs::path(WithSlashes(entry.value));
    if (mustOpen) {
        std::uint64_t size = 0;
        std::string reason;
        const int fd = OpenRegularFile(file, size, reason);
        if (fd < 0) {
            Fail(manifest, entry.line,
                 "cannot open the file " + file.string() + " named by the key \"" + std::string(key) + "\": " + reason +
                     ".");
        }
        ::close(fd);
    }
    return file;
}

// Places the store and the derived files (see PlaceStoreFile and PlaceServerStoreFiles), with a line on standard
// error for a store that is not the one beside the data and for derived files that cannot be kept.
void PlaceUserFiles(Manifest& manifest, const Entries& entries, const Surroundings& surroundings) {
    const Entry& store = entries.At("store");
    UserFilePlaces places;
    if (IsServerStore(store.value)) {
        // A server store is no file: only the derived files need a place, and that is the user's cache folder.
        manifest.storeUri = store.value;
        places = PlaceServerStoreFiles(manifest.file, store.value, surroundings);
    } else {
        const fs::path beside = ResolveFile(manifest.file, entries, "store", false);
        std::error_code error;
        if (!IsInstalledDataFolder(manifest.file.parent_path(), surroundings) &&
            !fs::is_directory(beside.parent_path(), error)) {
            Fail(manifest.file, store.line,
                 "the folder of the store " + beside.string() + " (named by the key \"store\") does not exist.");
        }
        places = PlaceStoreFile(manifest.file, beside, surroundings);
    }
    manifest.store = places.store;
    manifest.cacheBase = places.cacheBase;
    // One line each: where the accounts are when they are not beside the data, and why every start reads and trains.
    if (!places.storeNote.empty()) {
        std::cerr << "Quillory: " << places.storeNote << '\n';
    }
    if (!places.cacheNote.empty()) {
        std::cerr << "Quillory: the parsed data and the trained models are not kept, so every start reads the data "
                     "files and trains again: "
                  << places.cacheNote << ".\n";
    }
}

// The store, its SQLite side files and the derived files must never fall on a file the manifest reads: writing
// there would destroy the data, and the next start would fail on it.
void RefuseWritesOverData(const Manifest& manifest, std::uint32_t storeLine) {
    auto named = [](const fs::path& file, const char* key) {
        return "the file " + file.string() + " that the key \"" + key + "\" names";
    };
    const std::pair<fs::path, std::string> read[] = {{manifest.movies, named(manifest.movies, "movies")},
                                                     {manifest.ratings, named(manifest.ratings, "ratings")},
                                                     {manifest.links, named(manifest.links, "links")},
                                                     {manifest.file, "the manifest itself"}};
    std::vector<std::pair<fs::path, std::string>> written;
    if (manifest.storeUri.empty()) {
        written.emplace_back(manifest.store, "the store");
        for (const char* side : {"-wal", "-shm", "-journal"}) {
            written.emplace_back(manifest.store.string() + side, "the store's journal");
        }
    }
    for (const DerivedFileName& derived : kDerivedFiles) {
        if (!manifest.cacheBase.empty()) {
            written.emplace_back(DerivedFilePath(manifest.cacheBase, derived.file), derived.what);
        }
    }
    for (const auto& [path, what] : written) {
        for (const auto& [file, whose] : read) {
            if (!file.empty() && SameFile(path, file)) {
                Fail(manifest.file, storeLine,
                     fmt::format("{} {}, named after the key \"store\", is {}; name a store of its own, apart from "
                                 "the data files.",
                                 what, path.string(), whose));
            }
        }
    }
}

} // namespace

Manifest ReadManifest(const std::string& path) {
    return ReadManifest(path, CurrentSurroundings());
}

Manifest ReadManifest(const std::string& path, const Surroundings& surroundings) {
    Manifest manifest;
    manifest.file = LocateManifest(path, surroundings);
    const Entries entries = ReadEntries(manifest.file);
    manifest.layout = ReadLayout(manifest.file, entries);
    manifest.movies = ResolveFile(manifest.file, entries, "movies", true);
    manifest.ratings = ResolveFile(manifest.file, entries, "ratings", true);
    if (entries.At("links").line != 0) {
        manifest.links = ResolveFile(manifest.file, entries, "links", true);
    }
    PlaceUserFiles(manifest, entries, surroundings);
    RefuseWritesOverData(manifest, entries.At("store").line);
    return manifest;
}

} // namespace quillory::data
