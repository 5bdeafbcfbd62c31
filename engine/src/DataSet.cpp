#include "DataSet.h"

#include "MovieTable.h"

namespace quillory::data {

Manifest ReadManifest(const std::string& path) {
    throw CMException("Quillory data error", "Cannot read the manifest " + path + ": not built yet.");
}

DataSet LoadDataSet(const Manifest& manifest) {
    throw CMException("Quillory data error", "Cannot load " + manifest.file.string() + ": not built yet.");
}

std::vector<RatingRecord> LoadRatingsFile(const std::filesystem::path& path, const std::string&,
                                          const std::vector<MovieRecord>&) {
    throw CMException("Quillory data error", "Cannot load " + path.string() + ": not built yet.");
}

} // namespace quillory::data
