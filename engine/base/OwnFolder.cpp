#include "OwnFolder.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <system_error>

#include <unistd.h>

#include <fmt/format.h>

#include "DiskErrors.h"

namespace quillory {

namespace {

namespace fs = std::filesystem;

// Symbolic links followed in one walk, as the kernel allows (MAXSYMLINKS).
constexpr int kMaxLinks = 40;

bool WritableByOthers(const struct stat& info) {
    return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

std::string OtherUser(const fs::path& path, const struct stat& info, const char* what) {
    return fmt::format("{} {} belongs to another user (uid {})", what, path.string(), info.st_uid);
}

std::string WritableBy(const fs::path& path, const struct stat& info) {
    return fmt::format("{} can be written by other users (mode {:04o})", path.string(), info.st_mode & 07777U);
}

} // namespace

std::optional<std::string> WhyNotOwnFolder(const fs::path& folder, bool create) {
    const uid_t me = ::geteuid();
    fs::path start = folder;
    if (!start.is_absolute()) {
        std::error_code error;
        start = fs::current_path(error) / folder;
        if (error) {
            return "the working directory cannot be read: " + error.message();
        }
    }
    std::deque<fs::path> left;
    for (const fs::path& part : start.relative_path()) {
        left.push_back(part);
    }
    // `at` is always a real path (no symbolic link in it), so that ".." is its parent, as the kernel would take it.
    fs::path at = "/";
    struct stat info {};
    if (::lstat("/", &info) != 0) {
        return std::string("the folder / cannot be examined: ") + std::strerror(errno);
    }
    if (info.st_uid != 0 && info.st_uid != me) {
        return OtherUser(fs::path("/"), info, "the folder");
    }
    int links = 0;
    while (!left.empty()) {
        const fs::path part = left.front();
        left.pop_front();
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            at = at.parent_path();
            continue;
        }
        const fs::path next = at / part;
        if (::lstat(next.c_str(), &info) != 0) {
            if (errno != ENOENT) {
                return fmt::format("{} cannot be examined: {}", next.string(), std::strerror(errno));
            }
            if (!create) {
                return fmt::format("{} does not exist", next.string());
            }
            // Made by us, for us alone; a folder someone made meanwhile (EEXIST) is examined like any other.
            if (::mkdir(next.c_str(), 0700) != 0 && errno != EEXIST) {
                return fmt::format("{} cannot be created: {}", next.string(), DiskErrorText(errno, at));
            }
            if (::lstat(next.c_str(), &info) != 0) {
                return fmt::format("{} cannot be examined: {}", next.string(), std::strerror(errno));
            }
        }
        if (S_ISLNK(info.st_mode)) {
            if (info.st_uid != 0 && info.st_uid != me) {
                return OtherUser(next, info, "the symbolic link");
            }
            if (++links > kMaxLinks) {
                return fmt::format("{} is reached through too many symbolic links", folder.string());
            }
            std::error_code error;
            const fs::path target = fs::read_symlink(next, error);
            if (error) {
                return fmt::format("the symbolic link {} cannot be read: {}", next.string(), error.message());
            }
            if (target.is_absolute()) {
                at = "/";
            }
            std::deque<fs::path> parts;
            for (const fs::path& piece : target.relative_path()) {
                parts.push_back(piece);
            }
            left.insert(left.begin(), parts.begin(), parts.end());
            continue;
        }
        if (!S_ISDIR(info.st_mode)) {
            return fmt::format("{} is not a folder", next.string());
        }
        if (info.st_uid != 0 && info.st_uid != me) {
            return OtherUser(next, info, "the folder");
        }
        if (WritableByOthers(info) && (info.st_mode & S_ISVTX) == 0) {
            return WritableBy(next, info);
        }
        at = next;
    }
    // The folder itself: his own, and nobody else's to write in, sticky or not.
    if (::lstat(at.c_str(), &info) != 0) {
        return fmt::format("{} cannot be examined: {}", at.string(), std::strerror(errno));
    }
    if (info.st_uid != me) {
        return OtherUser(at, info, "the folder");
    }
    if (WritableByOthers(info)) {
        return WritableBy(at, info);
    }
    return std::nullopt;
}

std::optional<std::string> WhyNotOwnFile(const struct stat& info) {
    if (!S_ISREG(info.st_mode)) {
        return "it is not a regular file";
    }
    if (info.st_uid != ::geteuid()) {
        return fmt::format("it belongs to another user (uid {})", info.st_uid);
    }
    if (WritableByOthers(info)) {
        return fmt::format("it can be written by other users (mode {:04o})", info.st_mode & 07777U);
    }
    return std::nullopt;
}

} // namespace quillory
