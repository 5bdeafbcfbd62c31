#include "DataSet.h"

#include <exception>
#include <new>

#include <fmt/format.h>

#include "CatalogueReaders.h"
#include "EngineErrors.h"
#include "Fingerprint.h"
#include "Layout.h"
#include "MovieLookup.h"
#include "RatingsParser.h"
#include "TextFile.h"
#include "UserNumbering.h"

namespace quillory::data {

namespace {

namespace fs = std::filesystem;

// Reads the ratings file, then numbers its users (`users` and `order`, when given, receive their ids and the ratings'
// order in the rating index) and adds its part to `fingerprint` (when given).
std::vector<RatingRecord> LoadRatings(const fs::path& path, Layout layout, const std::vector<MovieRecord>& catalogue,
                                      std::vector<int>* users, IndexOrder* order, std::string* fingerprint,
                                      const std::function<void(std::size_t, std::size_t)>& progress = {}) {
    CTextFile file(path, "ratings file");
    if (fingerprint != nullptr) {
        *fingerprint += FingerprintPart("ratings", file.ContentHash(), file.Size());
    }
    const CMovieLookup lookup(catalogue);
    CRatingLines lines;
    RatingsParsing parsing;
    parsing.progress = progress;
    std::vector<RatingRecord> ratings = ParseRatings(file, layout, lookup, lines, parsing);
    file.Release();
    IndexOrder numberedOrder;
    std::vector<int> numbered = NumberUsersAndCheckPairs(file, ratings, lines, numberedOrder);
    if (users != nullptr) {
        *users = std::move(numbered);
    }
    if (order != nullptr) {
        *order = std::move(numberedOrder);
    }
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

DataSet LoadDataSet(const Manifest& manifest, const std::function<void(std::size_t, std::size_t)>& progress) {
    const LayoutDescription& layout = Describe(manifest.layout);
    DataSet data;
    data.manifest = manifest;
    data.fingerprint = FingerprintStart(std::string(layout.format));
    LoadingFile(manifest.movies, "movies file", [&] {
        CTextFile movies(manifest.movies, "movies file");
        data.fingerprint += FingerprintPart("movies", movies.ContentHash(), movies.Size());
        MovieCatalogue catalogue = layout.readCatalogue(movies);
        data.movies = std::move(catalogue.movies);
        data.genres = std::move(catalogue.genres);
    });
    if (data.movies.empty()) {
        ThrowDataError("The movies file " + manifest.movies.string() + " lists no movie; expected at least one.");
    }
    if (layout.needsLinks) {
        LoadingFile(manifest.links, "links file", [&] {
            CTextFile links(manifest.links, "links file");
            data.fingerprint += FingerprintPart("links", links.ContentHash(), links.Size());
            LoadLinks(links, data.movies);
        });
    }
    LoadingFile(manifest.ratings, "ratings file", [&] {
        data.ratings = LoadRatings(manifest.ratings, manifest.layout, data.movies, &data.users, &data.order,
                                   &data.fingerprint, progress);
    });
    return data;
}

std::vector<RatingRecord> LoadRatingsFile(const fs::path& path, Layout layout,
                                          const std::vector<MovieRecord>& catalogue) {
    std::vector<RatingRecord> ratings;
    LoadingFile(path, "ratings file",
                [&] { ratings = LoadRatings(path, layout, catalogue, nullptr, nullptr, nullptr); });
    return ratings;
}

} // namespace quillory::data
