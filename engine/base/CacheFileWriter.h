#pragma once

#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

// Files of derived data (the trained model, the parsed data) kept beside the user's store. They are rebuilt at will,
// so reading one never trusts it and writing one never harms a file the program did not make.

namespace quillory {

// Takes a file's bytes in order, part by part.
using CacheFileSink = std::function<void(const unsigned char* bytes, std::size_t size)>;

// Writes as `path` the bytes `write` hands to its sink, so that a large file is never built whole in memory: a
// temporary with a unique name in the same folder, created exclusively and without following symlinks (mode 0600),
// then renamed over `path`; not synced, since readers check length and checksum. An existing `path` is replaced only
// when it is a regular file of the user's whose first bytes are `magic` (a file this program wrote); anything else
// there (a symlink, another program's or another user's file, a folder) is left alone. Throws std::runtime_error
// saying why nothing was written; whatever `write` throws leaves too, the temporary removed.
void WriteCacheFile(const std::filesystem::path& path, std::string_view magic,
                    const std::function<void(const CacheFileSink&)>& write);

class CByteWriter;
// The same for a file of what `fill` puts into a writer, followed by the checksum (Checksum.h) of it all, as every
// cache file ends; the bytes go on to the file as they come.
void WriteSummedCacheFile(const std::filesystem::path& path, std::string_view magic,
                          const std::function<void(CByteWriter&)>& fill);

} // namespace quillory
