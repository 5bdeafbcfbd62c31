#pragma once

#include <filesystem>
#include <string>

// A file system call's failure in words that name the place: a full disk says so, where the system's own words ("No
// space left on device", or SQLite's "disk I/O error") would leave the user guessing which disk.
namespace quillory {

// Whether `error` (an errno value) says that the disk is full or that the user's quota on it is used up.
bool IsDiskFull(int error);

// "the disk that holds <folder> is full" (or "... your disk quota there is used up") for such an error, else the
// system's text for it.
std::string DiskErrorText(int error, const std::filesystem::path& folder);

} // namespace quillory
