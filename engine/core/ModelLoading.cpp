#include "ModelLoading.h"

#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "EngineErrors.h"
#include "MException.h"
#include "OwnFolder.h"

namespace quillory {

namespace {

// The ratings as the model trains on them: (user, item, stars) triples, user by user.
std::vector<model::Rating> TrainingRatings(const CRatingIndex& ratings) {
    std::vector<model::Rating> out;
    out.reserve(ratings.Size());
    for (std::uint32_t u = 0; u < ratings.Users(); ++u) {
        for (const std::uint32_t entry : ratings.Row(u)) {
            out.push_back(
                model::Rating{u, CRatingIndex::ItemOf(entry), static_cast<float>(CRatingIndex::StarsOf(entry))});
        }
    }
    return out;
}

void KeepInCache(const model::CRatingModel& model, const std::filesystem::path& cache, const std::string& fingerprint) {
    try {
        model.Save(cache, fingerprint);
    } catch (const std::bad_alloc&) {
        std::cerr << "Quillory: the trained model could not be kept in " << cache.string() << ": out of memory\n";
    } catch (const std::exception& e) {
        // Not fatal: the next start trains again. One line, so the reason can be found.
        std::cerr << "Quillory: the trained model could not be kept in " << cache.string() << ": " << e.what() << '\n';
    }
}

} // namespace

std::unique_ptr<model::CRatingModel> LoadOrTrainModel(const std::filesystem::path& cacheBase,
                                                      const std::string& dataFingerprint, const CRatingIndex& ratings,
                                                      std::uint32_t items) {
    try {
        auto model = std::make_unique<model::CRatingModel>();
        const std::string fingerprint = dataFingerprint + "model:" + model->Settings().Describe();
        std::filesystem::path cache = cacheBase;
        cache += ".model";
        // The cache is trusted on its checksum: it is read and kept only in a folder of the user's own.
        const std::optional<std::string> notOwn = WhyNotOwnFolder(cache.parent_path());
        // The cache is derived data: the model refuses a missing, stale or damaged file, and then we train afresh.
        const model::ModelShape shape{ratings.Users(), items, ratings.Size()};
        if (notOwn || !model->Load(cache, fingerprint, shape)) {
            model->Train(TrainingRatings(ratings), shape.users, shape.items);
            if (notOwn) {
                std::cerr << "Quillory: the trained model is not kept in " << cache.string() << ": " << *notOwn << '\n';
            } else {
                KeepInCache(*model, cache, fingerprint);
            }
        }
        return model;
    } catch (const CMException&) {
        throw;
    } catch (const std::bad_alloc&) {
        ThrowModelError(fmt::format("Training the prediction model on {} ratings of {} users and {} movies failed: "
                                    "there is not enough memory.",
                                    ratings.Size(), ratings.Users(), items));
    } catch (const std::exception& e) {
        ThrowModelError(std::string("Preparing the predictions from the ratings failed: ") + e.what());
    }
}

} // namespace quillory
