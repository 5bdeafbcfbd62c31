#include "CacheFileWriter.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ByteWriter.h"
#include "Checksum.h"
#include "OwnFolder.h"

namespace quillory {

namespace {

std::string ErrorText(int error) {
    return std::strerror(error);
}

// A name no other writer picks: the process id, a counter and the clock, so that two programs (or two threads)
// saving the same cache at once each write a temporary of their own.
std::filesystem::path TemporaryNameFor(const std::filesystem::path& path, unsigned attempt) {
    static std::atomic<std::uint64_t> counter{0};
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[96];
    std::snprintf(suffix, sizeof suffix, ".%ld.%llx.%llx.%u.tmp", static_cast<long>(::getpid()),
                  static_cast<unsigned long long>(counter.fetch_add(1)), static_cast<unsigned long long>(now), attempt);
    std::filesystem::path name = path;
    name += suffix;
    return name;
}

// Removes temporaries of `path` that a program which no longer runs left behind (a crash between create and
// rename). Only names of our own pattern whose process id is gone; unlink never follows a symlink.
void RemoveAbandonedTemporaries(const std::filesystem::path& path) {
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    const std::string prefix = path.filename().string() + ".";
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), last; !error && it != last; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - 4, 4, ".tmp") != 0) {
            continue;
        }
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (end == name.c_str() + prefix.size() || *end != '.' || pid <= 0 || pid == ::getpid()) {
            continue;
        }
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            ::unlink(it->path().c_str());
        }
    }
}

// Whether `path` may be replaced: it does not exist, or it is a regular file (not a symlink) of the user's. The
// folder is his own (checked before), so no other user can have put such a file there, and the manifest refuses data
// files at the derived files' names: whatever it holds is ours to replace. A file left empty, cut short or of other
// bytes by a crash between create and write is so made again instead of standing in the way of every later start.
// Anything else there (a symlink, a FIFO, a device, a folder, another user's file) is left alone. Opens nothing.
bool MayReplace(const std::filesystem::path& path, std::string& why) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        why = ErrorText(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        why = S_ISLNK(info.st_mode) ? "a symbolic link is there" : "something other than a file is there";
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        why = "it belongs to another user";
        return false;
    }
    return true;
}

} // namespace

void WriteCacheFile(const std::filesystem::path& path, const std::function<void(const CacheFileSink&)>& write) {
    // Only in a folder of the user's own, where no other user can put a file, swap one, or read the temporary
    // through a folder he may write.
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string why;
    if (const std::optional<std::string> notOwn = WhyNotOwnFolder(folder)) {
        why = *notOwn;
    }
    if (!why.empty() || !MayReplace(path, why)) {
        throw std::runtime_error(path.string() + " is left alone: " + why);
    }

    std::filesystem::path tmp;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        tmp = TemporaryNameFor(path, attempt);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        throw std::runtime_error("cannot create a temporary file beside " + path.string() + ": " + ErrorText(errno));
    }
    // From here on the temporary is ours: whatever fails removes it (by the name we created, which O_EXCL made a
    // fresh file, never a symlink).
    const auto fail = [&](const std::string& what, int error) {
        if (fd >= 0) {
            ::close(std::exchange(fd, -1));
        }
        ::unlink(tmp.c_str());
        throw std::runtime_error(what + " " + tmp.string() + ": " + ErrorText(error));
    };
    const CacheFileSink sink = [&](const unsigned char* bytes, std::size_t size) {
        std::size_t written = 0;
        while (written < size) {
            const ssize_t n = ::write(fd, bytes + written, size - written);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                fail("cannot write", n < 0 ? errno : ENOSPC);
            }
            written += static_cast<std::size_t>(n);
        }
    };
    try {
        write(sink);
    } catch (...) {
        if (fd >= 0) { // not the sink's own failure, which removed the temporary already
            ::close(std::exchange(fd, -1));
            ::unlink(tmp.c_str());
        }
        throw;
    }
    // On the disk before the rename: a power cut after it then finds the whole file at its name, not one empty or
    // cut short (the file system may otherwise write the rename first). A reader would refuse such a file and it
    // would be made again, but only at the cost of a cold start.
    if (::fsync(fd) != 0) {
        fail("cannot write", errno);
    }
    if (::close(std::exchange(fd, -1)) != 0) {
        fail("cannot write", errno);
    }
    // Checked again just before the rename, so that a file put there while we wrote is not replaced either.
    if (!MayReplace(path, why)) {
        ::unlink(tmp.c_str());
        throw std::runtime_error(path.string() + " is left alone: " + why);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(tmp.c_str());
        throw std::runtime_error("cannot replace " + path.string() + ": " + ErrorText(error));
    }
    RemoveAbandonedTemporaries(path);
}

void WriteSummedCacheFile(const std::filesystem::path& path, const std::function<void(CByteWriter&)>& fill) {
    WriteCacheFile(path, [&](const CacheFileSink& sink) {
        CChecksum sum;
        CByteWriter out([&](const unsigned char* bytes, std::size_t size) {
            sum.Add(bytes, size);
            sink(bytes, size);
        });
        fill(out);
        out.Flush();
        const std::uint64_t total = sum.Finish();
        sink(reinterpret_cast<const unsigned char*>(&total), sizeof total);
    });
}

} // namespace quillory
