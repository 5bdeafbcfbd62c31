#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "RatingIndex.h"
#include "RatingModel.h"

namespace quillory {

// The prediction model of the data files' ratings: loaded from the model cache (`cacheBase` + ".model") when that
// was trained on data of this fingerprint with today's settings and shape, else trained afresh on every core and
// kept in the cache for the next start (a cache that cannot be kept is reported on stderr, never fatal). The cache
// is read and kept only in a folder of the user's own (WhyNotOwnFolder); elsewhere the model is trained, with one
// line on stderr. A training that fails, or runs out of memory: CMException with the model caption.
std::unique_ptr<model::CRatingModel> LoadOrTrainModel(const std::filesystem::path& cacheBase,
                                                      const std::string& dataFingerprint, const CRatingIndex& ratings,
                                                      std::uint32_t items);

} // namespace quillory
