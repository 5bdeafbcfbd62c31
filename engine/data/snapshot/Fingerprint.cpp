#include "Fingerprint.h"

#include <utility>
#include <vector>

#include <unistd.h>

#include <fmt/format.h>

#include "ContentHash.h"
#include "ReadFully.h"
#include "RegularFile.h"

namespace quillory::data {

namespace {

// HashBytes of the whole file, streamed in blocks so that a file of gigabytes needs no buffer of its size: the
// result equals the fingerprint the text reader computes.
std::optional<std::pair<std::uint64_t, std::uint64_t>> HashFile(const std::filesystem::path& path) {
    // A FIFO or device named as a data file must not stop the start here (the text reader reports it).
    std::uint64_t size = 0;
    std::string reason;
    const int fd = OpenRegularFile(path, size, reason);
    if (fd < 0) {
        return std::nullopt;
    }
    CContentHasher hasher(size);
    constexpr std::size_t kBlock = 1 << 20; // a multiple of 8: words never straddle blocks
    std::vector<unsigned char> block(kBlock);
    std::uint64_t total = 0;
    std::optional<std::uint64_t> hash;
    while (true) {
        const ssize_t n = ReadFully(fd, block.data(), kBlock);
        if (n < 0) {
            break;
        }
        const auto filled = static_cast<std::size_t>(n);
        total += filled;
        const std::size_t whole = filled / 8 * 8;
        hasher.AddWords(block.data(), whole);
        if (filled < kBlock) { // the end of the file
            hash = hasher.Finish(block.data() + whole, filled - whole);
            break;
        }
    }
    ::close(fd);
    if (!hash || total != size) { // unreadable, or the file changed while we read it
        return std::nullopt;
    }
    return std::make_pair(*hash, size);
}

} // namespace

std::string FingerprintStart(const std::string& format) {
    return "format:" + format + ";";
}

std::string FingerprintPart(std::string_view role, std::uint64_t hash, std::uint64_t size) {
    return fmt::format("{}:{:016x}:{};", role, hash, size);
}

namespace {

// Walks the manifest's data files in the order they are read: measure(out, role, path, length) sets a file's length
// and may add to out.text, or says false to stop the walk (then nullopt). The lengths add up in `out`.
template <class Measure>
std::optional<DataFingerprint> WalkDataFiles(const Manifest& manifest, DataFingerprint out, Measure&& measure) {
    std::uint64_t links = 0;
    const auto add = [&](const char* role, const std::filesystem::path& path, std::uint64_t& length) {
        if (!measure(out, role, path, length)) {
            return false;
        }
        out.bytes += length;
        return true;
    };
    if (!add("movies", manifest.movies, out.moviesBytes) ||
        (Describe(manifest.layout).needsLinks && !add("links", manifest.links, links)) ||
        !add("ratings", manifest.ratings, out.ratingsBytes)) {
        return std::nullopt;
    }
    return out;
}

} // namespace

std::optional<DataFingerprint> FingerprintDataFiles(const Manifest& manifest) {
    // The same text LoadDataSet builds while it reads the files.
    DataFingerprint start;
    start.text = FingerprintStart(std::string(Describe(manifest.layout).format));
    return WalkDataFiles(
        manifest, std::move(start),
        [](DataFingerprint& out, const char* role, const std::filesystem::path& path, std::uint64_t& length) {
            const auto hashed = HashFile(path);
            if (!hashed) {
                return false;
            }
            out.text += FingerprintPart(role, hashed->first, hashed->second);
            length = hashed->second;
            return true;
        });
}

std::optional<DataFingerprint> DataFileSizes(const Manifest& manifest) {
    return WalkDataFiles(manifest, DataFingerprint{},
                         [](DataFingerprint&, const char*, const std::filesystem::path& path, std::uint64_t& length) {
                             std::string reason;
                             const int fd = OpenRegularFile(path, length, reason);
                             if (fd < 0) {
                                 return false;
                             }
                             ::close(fd);
                             return true;
                         });
}

} // namespace quillory::data
