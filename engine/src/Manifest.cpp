// The manifest: the small text file that names the data layout and the files of a data folder.
#include <algorithm>
#include <array>
#include <system_error>

#include <unistd.h>

#include "DataSet.h"
#include "EngineErrors.h"
#include "MovieTitle.h"
#include "TextFile.h"

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

fs::path ExecutableDirectory() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : exe.parent_path();
}

// Finds the manifest: an absolute path as it is; a relative one in the working directory, then beside the program.
fs::path LocateManifest(const std::string& given) {
    const fs::path path(WithSlashes(given));
    if (given.empty()) {
        ThrowDataError("No manifest was named: expected the path of a data folder's files.txt.");
    }
    if (path.is_absolute()) {
        if (!Exists(path)) {
            ThrowDataError("Cannot find the manifest " + path.string() + ".");
        }
        return path;
    }
    std::error_code error;
    const fs::path cwd = fs::current_path(error);
    if (!error && Exists(cwd / path)) {
        return cwd / path;
    }
    const fs::path exeDir = ExecutableDirectory();
    if (!exeDir.empty() && Exists(exeDir / path)) {
        return exeDir / path;
    }
    ThrowDataError("Cannot find the manifest " + path.string() + ": it is neither in the working directory " +
                   cwd.string() + " nor in the program's directory " + exeDir.string() + ".");
}

struct Entry {
    std::string value;
    std::uint32_t line = 0;
};

constexpr std::array<std::string_view, 5> kKeys = {"format", "movies", "ratings", "links", "store"};
constexpr std::array<std::string_view, 3> kFormats = {"movielens-100k", "movielens-csv", "movietweetings"};

} // namespace

Manifest ReadManifest(const std::string& path) {
    Manifest manifest;
    manifest.file = LocateManifest(path);
    CTextFile text(manifest.file, "manifest");
    const std::string name = manifest.file.string();
    auto fail = [&](std::uint32_t line, const std::string& what) {
        ThrowDataError(name + (line > 0 ? ", line " + std::to_string(line) : std::string()) + ": " + what);
    };

    std::array<Entry, kKeys.size()> entries;
    std::string_view line;
    while (text.NextLine(line)) {
        const std::uint32_t number = text.LineNumber();
        const std::string_view trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        if (!IsValidUtf8(trimmed)) {
            fail(number, "expected UTF-8 text.");
        }
        // A carriage return inside a line is a broken line end: reading on would merge two lines into one value.
        for (std::size_t i = 0; i < trimmed.size(); ++i) {
            if (trimmed[i] == '\r') {
                fail(number, "expected lines to end with LF or CRLF; found a carriage return inside the line.");
            }
            if (ControlCharacterAt(trimmed, i) >= 0) {
                fail(number, "expected text without control characters.");
            }
        }
        const std::size_t equals = trimmed.find('=');
        if (equals == std::string_view::npos) {
            fail(number, "expected a line \"key = value\", found " + QuoteExcerpt(trimmed) + ".");
        }
        const std::string_view key = TrimBlanks(trimmed.substr(0, equals));
        const std::string_view value = TrimBlanks(trimmed.substr(equals + 1));
        const auto known = std::find(kKeys.begin(), kKeys.end(), key);
        if (known == kKeys.end()) {
            fail(number, "unknown key " + QuoteExcerpt(key) + "; expected format, movies, ratings, links or store.");
        }
        Entry& entry = entries[static_cast<std::size_t>(known - kKeys.begin())];
        if (entry.line != 0) {
            fail(number, "the key \"" + std::string(key) + "\" is given again (first on line " +
                             std::to_string(entry.line) + ").");
        }
        if (value.empty()) {
            fail(number, "the key \"" + std::string(key) + "\" has no value.");
        }
        entry = Entry{std::string(value), number};
    }

    auto entryOf = [&](std::string_view key) -> Entry& {
        return entries[static_cast<std::size_t>(std::find(kKeys.begin(), kKeys.end(), key) - kKeys.begin())];
    };
    for (const std::string_view key : {"format", "movies", "ratings", "store"}) {
        if (entryOf(key).line == 0) {
            fail(0, "the key \"" + std::string(key) + "\" is missing.");
        }
    }
    const Entry& format = entryOf("format");
    if (std::find(kFormats.begin(), kFormats.end(), format.value) == kFormats.end()) {
        fail(format.line, "the format " + QuoteExcerpt(format.value) +
                              " is not known; expected movielens-100k, movielens-csv or movietweetings.");
    }
    manifest.format = format.value;
    const Entry& links = entryOf("links");
    if (manifest.format == "movielens-csv" && links.line == 0) {
        fail(0,
             "the key \"links\" is missing; the movielens-csv format needs links.csv for the movies' web addresses.");
    }
    if (manifest.format != "movielens-csv" && links.line != 0) {
        fail(links.line, "the key \"links\" belongs to the movielens-csv format only.");
    }

    const fs::path folder = manifest.file.parent_path();
    auto resolve = [&](std::string_view key, bool mustOpen) {
        const Entry& entry = entryOf(key);
        const fs::path file = folder / fs::path(WithSlashes(entry.value));
        if (mustOpen) {
            std::uint64_t size = 0;
            std::string reason;
            const int fd = OpenRegularFile(file, size, reason);
            if (fd < 0) {
                fail(entry.line, "cannot open the file " + file.string() + " named by the key \"" + std::string(key) +
                                     "\": " + reason + ".");
            }
            ::close(fd);
        }
        return file;
    };
    manifest.movies = resolve("movies", true);
    manifest.ratings = resolve("ratings", true);
    if (links.line != 0) {
        manifest.links = resolve("links", true);
    }
    manifest.store = resolve("store", false);
    std::error_code error;
    if (!fs::is_directory(manifest.store.parent_path(), error)) {
        fail(entryOf("store").line,
             "the folder of the store " + manifest.store.string() + " (named by the key \"store\") does not exist.");
    }
    return manifest;
}

} // namespace quillory::data
