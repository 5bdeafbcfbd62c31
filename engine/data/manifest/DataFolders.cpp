#include "DataFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "EngineErrors.h"
#include "OwnFolder.h"

namespace quillory::data {

namespace {

namespace fs = std::filesystem;

std::optional<std::string> Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

// The home folder: $HOME, else the account's own (a service started without HOME still has one).
std::optional<std::string> HomeFolder() {
    std::optional<std::string> home = Variable("HOME");
    if (home && !home->empty()) {
        return home;
    }
    const passwd* account = ::getpwuid(::getuid());
    if (account != nullptr && account->pw_dir != nullptr && account->pw_dir[0] != '\0') {
        return std::string(account->pw_dir);
    }
    return home;
}

// The XDG rules ignore a relative path in any of these variables: it would depend on the working directory.
fs::path BaseFolder(const std::optional<std::string>& variable, const Surroundings& surroundings,
                    const char* underHome) {
    if (variable && fs::path(*variable).is_absolute()) {
        return fs::path(*variable).lexically_normal();
    }
    if (!surroundings.home || !fs::path(*surroundings.home).is_absolute()) {
        return {};
    }
    return (fs::path(*surroundings.home) / underHome).lexically_normal();
}

// Something is at `path` (a symbolic link counts when it leads somewhere).
bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

bool IsWithin(const fs::path& inner, const fs::path& outer) {
    std::error_code error;
    const fs::path a = fs::weakly_canonical(inner, error);
    if (error) {
        return false;
    }
    const fs::path b = fs::weakly_canonical(outer, error);
    if (error) {
        return false;
    }
    auto ai = a.begin();
    for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
        if (bi->empty() && std::next(bi) == b.end()) {
            break; // a trailing separator
        }
        if (ai == a.end() || *ai != *bi) {
            return false;
        }
    }
    return true;
}

// The derived files in the user's cache folder for `manifest`, named `name` there; or none, and why.
void PlaceInCacheFolder(UserFilePlaces& places, const fs::path& manifest, const fs::path& name,
                        const Surroundings& surroundings) {
    const fs::path cacheHome = CacheHome(surroundings);
    std::string why = "neither HOME nor XDG_CACHE_HOME names a folder for them";
    const fs::path folder =
        cacheHome.empty() ? fs::path() : DerivedFilesFolder(cacheHome / "quillory" / UserDataKey(manifest), why);
    if (folder.empty()) {
        places.cacheNote = why;
    } else {
        places.cacheBase = folder / name;
    }
}

} // namespace

Surroundings CurrentSurroundings() {
    Surroundings surroundings;
    surroundings.home = HomeFolder();
    surroundings.dataHome = Variable("XDG_DATA_HOME");
    surroundings.dataDirs = Variable("XDG_DATA_DIRS");
    surroundings.cacheHome = Variable("XDG_CACHE_HOME");
    std::error_code error;
    surroundings.workingDirectory = fs::current_path(error);
    if (error) {
        surroundings.workingDirectory.clear();
    }
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    surroundings.programDirectory = error ? fs::path() : exe.parent_path();
    return surroundings;
}

fs::path DataHome(const Surroundings& surroundings) {
    return BaseFolder(surroundings.dataHome, surroundings, ".local/share");
}

fs::path CacheHome(const Surroundings& surroundings) {
    return BaseFolder(surroundings.cacheHome, surroundings, ".cache");
}

std::vector<fs::path> DataDirs(const Surroundings& surroundings) {
    std::vector<fs::path> folders;
    const std::string list = surroundings.dataDirs && !surroundings.dataDirs->empty() ? *surroundings.dataDirs
                                                                                      : "/usr/local/share:/usr/share";
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t colon = std::min(list.find(':', start), list.size());
        const fs::path entry(list.substr(start, colon - start));
        if (entry.is_absolute()) {
            folders.push_back(entry.lexically_normal());
        }
        start = colon + 1;
    }
    return folders;
}

std::vector<fs::path> ManifestFolders(const Surroundings& surroundings) {
    std::vector<fs::path> folders;
    if (!surroundings.workingDirectory.empty()) {
        folders.push_back(surroundings.workingDirectory);
    }
    if (!surroundings.programDirectory.empty()) {
        folders.push_back(surroundings.programDirectory);
    }
    if (const fs::path dataHome = DataHome(surroundings); !dataHome.empty()) {
        folders.push_back(dataHome / "quillory");
    }
    for (const fs::path& dir : DataDirs(surroundings)) {
        folders.push_back(dir / "quillory");
    }
    if (!surroundings.programDirectory.empty()) {
        folders.push_back((surroundings.programDirectory / ".." / "share" / "quillory").lexically_normal());
    }
    return folders;
}

bool IsInstalledDataFolder(const fs::path& folder, const Surroundings& surroundings) {
    if (!surroundings.programDirectory.empty() &&
        IsWithin(folder, surroundings.programDirectory / ".." / "share" / "quillory")) {
        return true;
    }
    for (const fs::path& dir : DataDirs(surroundings)) {
        if (IsWithin(folder, dir / "quillory")) {
            return true;
        }
    }
    return false;
}

bool IsWritableFolder(const fs::path& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string UserDataKey(const fs::path& manifest) {
    std::error_code error;
    fs::path full = fs::weakly_canonical(manifest, error);
    if (error) {
        full = fs::absolute(manifest, error).lexically_normal();
    }
    std::string name;
    for (const char c : full.parent_path().filename().string()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        name += plain ? c : '_';
        if (name.size() == 40) {
            break;
        }
    }
    if (name.empty() || name.front() == '.') {
        name.insert(0, "data");
    }
    return name + "-" + ShortHash(full.string());
}

std::string ShortHash(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string digits;
    for (int shift = 60; shift >= 0; shift -= 4) {
        digits += kHex[(hash >> shift) & 0xF];
    }
    return digits;
}

const fs::path& CreatePrivateFolder(const fs::path& folder) {
    // Made and checked in one walk, level by level: a level that another user owns, may write or links elsewhere is
    // refused before anything is made inside it.
    if (const std::optional<std::string> why = WhyNotOwnFolder(folder, true)) {
        ThrowStoreError("Cannot use the folder " + folder.string() + " for your accounts and ratings: " + *why + ".");
    }
    return folder;
}

fs::path DerivedFilesFolder(const fs::path& folder, std::string& why) {
    if (const std::optional<std::string> notOwn = WhyNotOwnFolder(folder, true)) {
        why = *notOwn;
        return {};
    }
    // Checked now, so that a folder that cannot take them costs one line at start, not one per file.
    if (!IsWritableFolder(folder)) {
        why = folder.string() + " cannot be written: " + std::strerror(errno);
        return {};
    }
    return folder;
}

UserFilePlaces PlaceStoreFile(const fs::path& manifest, const fs::path& beside, const Surroundings& surroundings) {
    const fs::path folder = manifest.parent_path();
    const fs::path besideFolder = beside.parent_path();
    const bool installed = IsInstalledDataFolder(folder, surroundings);
    // The store holds password hashes, and the derived files are trusted on their checksums: beside the data only
    // where nobody else can write or swap them. A manifest in a folder others can write is read all the same (its
    // files are inputs), but it names no place for the user's files.
    std::optional<std::string> notOwn;
    if (!installed) {
        if (const std::optional<std::string> why = WhyNotOwnFolder(folder)) {
            notOwn = "the manifest's folder is not yours alone: " + *why;
        } else if (const std::optional<std::string> whyStore = WhyNotOwnFolder(besideFolder)) {
            notOwn = "the store's folder is not yours alone: " + *whyStore;
        }
    }
    const std::string key = UserDataKey(manifest);
    const fs::path dataHome = DataHome(surroundings);
    const fs::path ownFolder = dataHome.empty() ? fs::path() : dataHome / "quillory" / key;
    const fs::path own = ownFolder.empty() ? fs::path() : ownFolder / beside.filename();
    const bool besideExists = Exists(beside);
    const bool ownExists = !own.empty() && Exists(own);
    const bool writable = IsWritableFolder(besideFolder);

    UserFilePlaces places;
    // A store that exists is the user's: a folder that turned read-only, or one made in his data folder meanwhile,
    // never switches him to another store.
    if (!installed && !notOwn && (besideExists || (!ownExists && writable))) {
        places.store = beside;
        if (ownExists) {
            places.storeNote = "the store " + beside.string() + " beside the data is in use; the store " +
                               own.string() + ", made by an earlier start that kept none there, is not.";
        }
        if (writable) {
            places.cacheBase = beside;
            return places;
        }
    } else {
        if (own.empty()) {
            ThrowStoreError("The store " + beside.string() +
                            " cannot be kept beside the data, and neither HOME nor XDG_DATA_HOME names a folder for "
                            "your accounts and ratings.");
        }
        places.store = CreatePrivateFolder(ownFolder) / beside.filename();
        std::string why;
        if (installed) {
            why = "the data in " + folder.string() + " is installed, and installed data is never written";
        } else if (notOwn) {
            why = *notOwn + (besideExists ? "; the store " + beside.string() + " there is not used" : "");
        } else if (ownExists) {
            why = "an earlier start kept it there while no store could be made beside the data; move it to " +
                  beside.string() + " to keep it beside the data";
        } else {
            why = "the data's folder " + besideFolder.string() + " cannot be written";
        }
        places.storeNote = "your accounts and ratings are kept in " + places.store.string() + ": " + why + ".";
    }
    PlaceInCacheFolder(places, manifest, beside.filename(), surroundings);
    return places;
}

UserFilePlaces PlaceServerStoreFiles(const fs::path& manifest, std::string_view uri, const Surroundings& surroundings) {
    UserFilePlaces places;
    PlaceInCacheFolder(places, manifest, "server-" + ShortHash(uri), surroundings);
    return places;
}

} // namespace quillory::data
