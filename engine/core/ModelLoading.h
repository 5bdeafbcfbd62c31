#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "ProgressReport.h"
#include "RankingModel.h"
#include "RatingIndex.h"
#include "RatingModel.h"

namespace quillory {

// The models of the data files' ratings: the prediction model and the ranking model.
struct TrainedModels {
    std::unique_ptr<model::CRatingModel> rating;
    std::unique_ptr<model::CRankingModel> ranking;
};

// Both models of the data files' ratings, each loaded from a cache of its own (the model and ranking caches of
// `cacheBase`, DerivedFileNames.h) when that was trained on data of this fingerprint with today's settings and shape,
// else trained afresh (both at once when both must be) and kept in its cache for the next start (a cache that cannot be
// kept is reported on stderr, never fatal). The caches are read and kept only in a folder of the user's own
// (WhyNotOwnFolder); elsewhere the models are trained, with one line on stderr; without a `cacheBase`, silently. A
// training that fails, or runs out of memory: CMException with the model caption. A training is followed by `report` as
// the stage "Training", in the prediction model's steps; the models then train on threads of their own while the
// calling thread reports.
TrainedModels LoadOrTrainModels(const std::filesystem::path& cacheBase, const std::string& dataFingerprint,
                                const CRatingIndex& ratings, std::uint32_t items, CProgressReport& report);

} // namespace quillory
