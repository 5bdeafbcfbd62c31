#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <sys/stat.h>

// Whether a folder or a derived file is the user's own: the user's store, caches and snapshots go only where no other
// user can put a file of his, replace one, or swap the folder for another.
namespace quillory {

// Why `folder` is not a folder of the user who runs the program (the effective user), or nullopt when it is. It is
// his when, walked from / one level at a time without the kernel following anything:
// - the folder itself belongs to him and is writable by nobody else (no group or other write permission);
// - every folder above it belongs to root or to him, and is writable by nobody else unless it has the sticky bit (as
//   the system's temporary folder has: there only an entry's owner may rename or remove it);
// - every symbolic link on the way belongs to root or to him (its target is then walked the same way).
// What passes stays so while the program runs: only root or the user could change any level of it. The reason
// names the level at fault ("/srv/shared belongs to another user (uid 1001)").
// With `create`, a missing level is made (mode 0700) when the walk reaches it, after every level above it passed.
std::optional<std::string> WhyNotOwnFolder(const std::filesystem::path& folder, bool create = false);

// Why an opened derived file (`info` is its fstat) is not one the user may trust, or nullopt when it is: a regular
// file that belongs to the effective user and is writable by nobody else.
std::optional<std::string> WhyNotOwnFile(const struct stat& info);

} // namespace quillory
