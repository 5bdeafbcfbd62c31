#pragma once

#include <filesystem>
#include <functional>
#include <vector>

// Files of derived data (the trained models, the parsed data) kept beside the user's store. They are rebuilt at will,
// so reading one never trusts it, and writing one replaces nothing at its name but a regular file of the user's.

namespace quillory {

// Takes a file's bytes in order, part by part.
using CacheFileSink = std::function<void(const unsigned char* bytes, std::size_t size)>;

// Writes as `path` the bytes `write` hands to its sink, so that a large file is never built whole in memory: a
// temporary with a unique name in the same folder, created exclusively and without following symlinks (mode 0600),
// synced to the disk, then renamed over `path`. Only in a folder of the user's own (WhyNotOwnFolder); there an
// existing `path` that is a regular file of the user's is replaced whatever it holds (the derived files' names are
// ours: the manifest refuses data files there), and anything else (a symlink, a FIFO, a device, a folder, another
// user's file) is left alone. Throws std::runtime_error saying why nothing was written; whatever `write` throws
// leaves too, the temporary removed.
void WriteCacheFile(const std::filesystem::path& path, const std::function<void(const CacheFileSink&)>& write);

class CByteWriter;
// The same for a file of what `fill` puts into a writer, followed by the checksum (Checksum.h) of it all, as every
// cache file ends; the bytes go on to the file as they come.
void WriteSummedCacheFile(const std::filesystem::path& path, const std::function<void(CByteWriter&)>& fill);

} // namespace quillory
