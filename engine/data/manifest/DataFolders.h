#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where data is looked for and where a user's own files go, by the XDG base directory rules. Everything here depends
// only on a Surroundings value, so that the rules can be checked without touching the process's environment.
namespace quillory::data {

// What the places of data depend on. An unset variable is nullopt; a set but empty one is an empty string (both
// mean "use the default").
struct Surroundings {
    std::optional<std::string> home;        // $HOME, else the home folder of the user's account
    std::optional<std::string> dataHome;    // $XDG_DATA_HOME
    std::optional<std::string> dataDirs;    // $XDG_DATA_DIRS
    std::optional<std::string> cacheHome;   // $XDG_CACHE_HOME
    std::filesystem::path workingDirectory; // empty when it cannot be read
    std::filesystem::path programDirectory; // the running executable's folder; empty when it cannot be read
};

// The surroundings of this process, read now.
Surroundings CurrentSurroundings();

// $XDG_DATA_HOME, or ~/.local/share when it is unset, empty or relative; empty when there is no home either.
std::filesystem::path DataHome(const Surroundings& surroundings);
// $XDG_CACHE_HOME, or ~/.cache when it is unset, empty or relative; empty when there is no home either.
std::filesystem::path CacheHome(const Surroundings& surroundings);
// The absolute entries of $XDG_DATA_DIRS in order, or /usr/local/share and /usr/share when it is unset or empty.
std::vector<std::filesystem::path> DataDirs(const Surroundings& surroundings);

// The folders a relative manifest path is tried against, in order: the working directory, the program's folder,
// DataHome/quillory, each DataDirs entry + /quillory, and <program's folder>/../share/quillory.
std::vector<std::filesystem::path> ManifestFolders(const Surroundings& surroundings);

// Whether `folder` holds installed data: it lies in <program's folder>/../share/quillory or in a DataDirs entry's
// quillory folder. Installed data is never written to, whoever runs the program.
bool IsInstalledDataFolder(const std::filesystem::path& folder, const Surroundings& surroundings);

// Whether the user may create files in `folder`.
bool IsWritableFolder(const std::filesystem::path& folder);

// A file name part that keeps the user files of two manifests apart: the manifest folder's name, made safe, and a
// hash of the manifest's full path, e.g. "MovieData-1f0c3a5e9b2d4c87".
std::string UserDataKey(const std::filesystem::path& manifest);

// 16 hexadecimal digits of a 64-bit FNV-1a hash of `text`: the same text gives the same name on every machine.
std::string ShortHash(std::string_view text);

// Creates `folder` and any missing parent readable by its owner only (a folder that exists is left as it is), and
// returns it once it is the user's own (see WhyNotOwnFolder: his, writable by nobody else, and reached through no
// folder or symbolic link that another user could change). For the store: throws CMException naming the folder and
// why when it cannot be made or is not his own; nothing is made inside a level that fails.
const std::filesystem::path& CreatePrivateFolder(const std::filesystem::path& folder);

// The same for a folder of derived files, which are rebuilt at will, so that a start goes on without them: `folder`
// once it is made, the user's own and writable by him; else an empty path, and `why` says why.
std::filesystem::path DerivedFilesFolder(const std::filesystem::path& folder, std::string& why);

// Where one manifest's own files go: its SQLite store and its derived files (the data snapshot, the ratings' times,
// the model caches), and what is to be said about them on standard error.
struct UserFilePlaces {
    std::filesystem::path store;     // the SQLite store; empty for a server store
    std::filesystem::path cacheBase; // the derived files' names start with this; empty when none is kept
    std::string storeNote;           // when the store is not the one beside the data: which it is, and why
    std::string cacheNote;           // when no derived file is kept: why
};

// The places for the store file `beside` that the manifest `manifest` names (resolved against the manifest's folder).
// The store and the derived files go there only where no other user can write or swap them: the data is not
// installed, and the manifest's folder and the store's are the user's own. There, a store that exists is the user's
// store and is used where it is, whether or not its folder can be written now; none is made there while the folder
// cannot be written, nor while a store made earlier in the user's data folder (DataHome/quillory/<key>) exists,
// which is then used. Anywhere else the store is that one, made as CreatePrivateFolder makes its folder (CMException
// when it cannot be, or when there is no home to put it in). The derived files go beside the store while its folder
// can be written, else to CacheHome/quillory/<key>; when neither can take them (DerivedFilesFolder), none is kept.
UserFilePlaces PlaceStoreFile(const std::filesystem::path& manifest, const std::filesystem::path& beside,
                              const Surroundings& surroundings);

// The places for a server store `uri`: no store file; the derived files in CacheHome/quillory/<key>, named after a
// hash of the URI, or none kept.
UserFilePlaces PlaceServerStoreFiles(const std::filesystem::path& manifest, std::string_view uri,
                                     const Surroundings& surroundings);

} // namespace quillory::data
