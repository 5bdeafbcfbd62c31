#pragma once

#include <filesystem>
#include <string>

// The manifest: the small text file that names a data folder's layout and files, and where the user's own files go.
namespace quillory::data {

// What a manifest names, its files already resolved against the manifest's folder.
struct Manifest {
    std::filesystem::path file;      // the manifest itself
    std::filesystem::path movies;    // the catalogue
    std::filesystem::path ratings;   // the ratings
    std::filesystem::path links;     // movielens-csv only: movie ids to IMDb ids; empty otherwise
    std::filesystem::path store;     // the SQLite store of accounts and entered ratings (may not exist yet);
                                     // empty for a server store
    std::string storeUri;            // the server store's address ("postgresql://..."); empty for a store file
    std::filesystem::path cacheBase; // derived data: each derived file is cacheBase + its suffix (the data snapshot,
                                     // the ratings' times, the model and ranking caches; DerivedFileNames.h)
    std::string format;              // "movielens-100k", "movielens-csv" or "movietweetings"
};

struct Surroundings;

// Reads the manifest at `path`. A backslash in `path` is a path separator ("MovieData\files.txt"); a relative path
// is tried against each folder of ManifestFolders in turn (the working directory, the program's folder, then the XDG
// data folders and the installation's share/quillory). The store and the cache go where the manifest's key "store"
// says only when the data is not installed and both the manifest's folder and the store's are the user's own and
// writable (WhyNotOwnFolder: his, writable by nobody else, reached through nothing another user could change);
// otherwise they go to the user's XDG data and cache folders, created owner-only and refused with a CMException
// naming the folder and why when they are not his own. A store file left in a folder that is not the user's own is
// not used, with one line on stderr saying where the store is now. A store or cache path that falls on a file the
// manifest reads is refused. Every fault is a CMException naming the manifest, and the line and key where there is one.
Manifest ReadManifest(const std::string& path);
Manifest ReadManifest(const std::string& path, const Surroundings& surroundings);

} // namespace quillory::data
