#pragma once

#include <filesystem>
#include <string>

#include "Layout.h"

// The manifest: the small text file that names a data folder's layout and files, and where the user's own files go.
namespace quillory::data {

// What a manifest names, its files already resolved against the manifest's folder.
struct Manifest {
    std::filesystem::path file;            // the manifest itself
    std::filesystem::path movies;          // the catalogue
    std::filesystem::path ratings;         // the ratings
    std::filesystem::path links;           // a layout that needs links only: movie ids to IMDb ids; empty otherwise
    std::filesystem::path store;           // the SQLite store of accounts and entered ratings (may not exist yet);
                                           // empty for a server store
    std::string storeUri;                  // the server store's address ("postgresql://..."); empty for a store file
    std::filesystem::path cacheBase;       // derived data: each derived file is cacheBase + its suffix (the data
                                           // snapshot, the ratings' times, the model and ranking caches;
                                           // DerivedFileNames.h); empty when no derived file is kept
    Layout layout = Layout::MovieLens100k; // the layout its "format" names
};

struct Surroundings;

// Reads the manifest at `path`. A backslash in `path` is a path separator ("MovieData\files.txt"); a relative path
// is tried against each folder of ManifestFolders in turn (the working directory, the program's folder, then the XDG
// data folders and the installation's share/quillory). The store and the derived files go where PlaceStoreFile (or
// PlaceServerStoreFiles) puts them: beside the data where the manifest's key "store" says, when the data is not
// installed and both the manifest's folder and the store's are the user's own, else in the user's XDG folders. One
// line on stderr says which store is in use when it is not the one beside the data, and one why no derived file is
// kept when none can be. A store or cache path that falls on a file the manifest reads is refused. Every fault is a
// CMException naming the manifest, and the line and key where there is one (the store's folders: CreatePrivateFolder).
Manifest ReadManifest(const std::string& path);
Manifest ReadManifest(const std::string& path, const Surroundings& surroundings);

} // namespace quillory::data
