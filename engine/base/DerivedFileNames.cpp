#include "DerivedFileNames.h"

#include <algorithm>

namespace quillory {

std::filesystem::path DerivedFilePath(const std::filesystem::path& cacheBase, DerivedFile file) {
    const auto* name = std::find_if(std::begin(kDerivedFiles), std::end(kDerivedFiles),
                                    [&](const DerivedFileName& entry) { return entry.file == file; });
    std::filesystem::path path = cacheBase;
    path += name->suffix;
    return path;
}

} // namespace quillory
