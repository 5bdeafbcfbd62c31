#include "ModelLoading.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <future>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "DerivedFileNames.h"
#include "EngineErrors.h"
#include "MException.h"
#include "OwnFolder.h"

namespace quillory {

namespace {

// The data's ratings, user by user, as the models train on them and a prediction model loaded from its cache asks
// for them again: read where the index holds them, never copied.
class CIndexRows : public model::IRatedRows {
public:
    explicit CIndexRows(const CRatingIndex& index) : m_index(index) {}
    std::uint32_t Users() const override { return m_index.Users(); }
    std::size_t Count(std::uint32_t user) const override { return m_index.Row(user).size(); }
    void Row(std::uint32_t user, std::vector<std::pair<std::uint32_t, float>>& out) const override {
        out.clear();
        for (const std::uint32_t entry : m_index.Row(user)) {
            out.emplace_back(CRatingIndex::ItemOf(entry), static_cast<float>(CRatingIndex::StarsOf(entry)));
        }
    }

private:
    const CRatingIndex& m_index;
};

template <class Model>
void KeepInCache(const Model& model, const std::filesystem::path& cache, const std::string& fingerprint) {
    try {
        model.Save(cache, fingerprint);
    } catch (const std::bad_alloc&) {
        std::cerr << "Quillory: the trained model could not be kept in " << cache.string() << ": out of memory\n";
    } catch (const std::exception& e) {
        // Not fatal: the next start trains again. One line, so the reason can be found.
        std::cerr << "Quillory: the trained model could not be kept in " << cache.string() << ": " << e.what() << '\n';
    }
}

// Trains the models asked for, each on a thread of its own: the ranking model's beside the prediction model's pool
// uses the cores that pool leaves idle between its parallel loops, and the calling thread stays free to report the
// prediction model's steps. Both read the ratings where the index holds them: on large data a copy of them all no
// longer sits beside the models' own groupings. `keepRating` and `keepRanking` (which must not throw) are called on
// the thread that trained each, once it is trained. An exception of either leaves after both have stopped.
void TrainBoth(TrainedModels& models, const CRatingIndex& index, const model::ModelShape& shape, bool rating,
               bool ranking, CProgressReport& report, const std::function<void()>& keepRating,
               const std::function<void()>& keepRanking) {
    const CIndexRows rows(index);
    std::atomic<int> step{0};
    std::atomic<int> steps{0};
    const model::TrainingProgress onStep = [&](int done, int total) {
        steps.store(total);
        step.store(done);
    };
    // On one thread (QUILLORY_THREADS=1) the ranking model trains after the prediction model, as on one core.
    const bool beside = model::TrainingThreads() > 1;
    std::future<void> rankingDone;
    std::future<void> ratingDone;
    // Each model is kept as soon as it is trained, on its own thread: the ranking model's file is written while
    // the prediction model still trains. Beside the prediction model's pool, which keeps every core busy but for
    // short gaps, the ranking model's build takes one thread: a pool of its own there only added switching between
    // them (2 to 5 percent of the whole training at 10M ratings).
    const auto trainRanking = [&] {
        models.ranking->Train(rows, shape.users, shape.items, rating ? 1 : 0);
        keepRanking();
    };
    if (ranking && (beside || !rating)) {
        rankingDone = std::async(std::launch::async, trainRanking);
    }
    if (rating) {
        ratingDone = std::async(std::launch::async, [&] {
            models.rating->Train(rows, shape.users, shape.items, onStep);
            keepRating();
            if (ranking && !beside) {
                trainRanking();
            }
        });
    }
    bool begun = false;
    const auto follow = [&] {
        if (!begun && steps.load() > 0) {
            report.Begin("Training", static_cast<std::uint64_t>(steps.load()));
            begun = true;
        }
        if (begun) {
            report.Update(static_cast<std::uint64_t>(step.load()));
        }
    };
    for (std::future<void>* pending : {&ratingDone, &rankingDone}) {
        while (pending->valid() && pending->wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            follow();
        }
    }
    if (ratingDone.valid()) {
        ratingDone.get();
    }
    if (rankingDone.valid()) {
        rankingDone.get();
    }
    follow();
    if (!begun) {
        report.Begin("Training", 1); // the ranking model alone
    }
    report.End();
}

} // namespace

TrainedModels LoadOrTrainModels(const std::filesystem::path& cacheBase, const std::string& dataFingerprint,
                                const CRatingIndex& ratings, std::uint32_t items, CProgressReport& report) {
    try {
        TrainedModels models{std::make_unique<model::CRatingModel>(), std::make_unique<model::CRankingModel>()};
        const std::string ratingKey = dataFingerprint + "model:" + models.rating->Settings().Describe();
        const std::string rankingKey = dataFingerprint + "ranking:" + models.ranking->Settings().Describe();
        const std::filesystem::path ratingCache = DerivedFilePath(cacheBase, DerivedFile::Model);
        const std::filesystem::path rankingCache = DerivedFilePath(cacheBase, DerivedFile::Ranking);
        // The caches are trusted on their checksums: they are read and kept only in a folder of the user's own, and
        // not at all without a cache base (ReadManifest said why).
        const bool kept = !cacheBase.empty();
        const std::optional<std::string> notOwn = kept ? WhyNotOwnFolder(ratingCache.parent_path()) : std::nullopt;
        const bool useCaches = kept && !notOwn;
        // The caches are derived data: a model refuses a missing, stale or damaged file, and then we train afresh.
        const model::ModelShape shape{ratings.Users(), items, ratings.Size()};
        // The two caches are read at once, the ranking model's on a thread of its own: on large data each read is
        // mostly copying and first touches of memory, which two cores do in half the time.
        std::future<bool> rankingRead;
        if (useCaches) {
            rankingRead =
                std::async(std::launch::async, [&] { return models.ranking->Load(rankingCache, rankingKey, shape); });
        }
        const bool ratingLoaded = useCaches && models.rating->Load(ratingCache, ratingKey, CIndexRows(ratings), shape);
        const bool rankingLoaded = rankingRead.valid() && rankingRead.get();
        if (ratingLoaded && rankingLoaded) {
            return models;
        }
        TrainBoth(
            models, ratings, shape, !ratingLoaded, !rankingLoaded, report,
            [&] {
                if (useCaches) {
                    KeepInCache(*models.rating, ratingCache, ratingKey);
                }
            },
            [&] {
                if (useCaches) {
                    KeepInCache(*models.ranking, rankingCache, rankingKey);
                }
            });
        if (notOwn) {
            std::cerr << "Quillory: the trained models are not kept in " << ratingCache.parent_path().string() << ": "
                      << *notOwn << '\n';
        }
        return models;
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
