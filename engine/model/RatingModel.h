#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillory::model {

// One training rating. Users and items are dense indices (0 .. count-1); the value is on the 1..5 scale and may be
// unrounded (half stars, 0..10 scales mapped linearly).
struct Rating {
    std::uint32_t user;
    std::uint32_t item;
    float value;
};

// A user's ratings for fold-in: (item index, value).
using UserRatings = std::span<const std::pair<std::uint32_t, float>>;

// The ratings a model was trained on, user by user, as loading a model needs them again: the model keeps, for each
// of them, what the user thought beyond the model's own prediction, and its file does not repeat what the data holds.
// Row() may be called from several threads at once.
class IRatedRows {
public:
    virtual ~IRatedRows() = default;
    // Users 0..Users()-1 have rows (the rest none).
    virtual std::uint32_t Users() const = 0;
    virtual std::size_t Count(std::uint32_t user) const = 0;
    // Replaces `out` with the user's (item, value) pairs, in the order of the ratings trained on: the same pairs
    // every time it is called for him.
    virtual void Row(std::uint32_t user, std::vector<std::pair<std::uint32_t, float>>& out) const = 0;
};

// Training settings. Describe() is part of the cache fingerprint: any setting that changes the trained model
// must appear in it.
struct ModelSettings {
    // The bias baseline: ridge penalties of the biases (in units of ratings) and the alternating sweeps that fit them.
    double biasRegUser = 5.0;
    double biasRegItem = 10.0;
    int biasSweeps = 4;

    // The Bayesian factorisation: rank, Gibbs sweeps discarded before the chain settles, and sweeps averaged into
    // the model afterwards. factors = 0 or samples = 0 leaves the bias baseline alone.
    int factors = 10;
    // Alternating ridge least-squares sweeps (penalty initRidge) that give the chain its starting point.
    int initSweeps = 3;
    double initRidge = 5.0;
    int burnIn = 6;
    int samples = 60;
    // What the chain may cost, in units of (ratings + 16 x users and items with ratings) x sweeps; beyond it the
    // chain is shortened (to no less than 6 + 12 sweeps, or 4 + 8 from eight million ratings).
    // Small data gets all its samples; the bundled data keeps 18. 0: no limit.
    std::size_t workBudget = 10000000;
    // Whether the items a user rated (not only how) shape his prior.
    bool implicitFeedback = true;
    // Whether a short chain on the rest must beat the bias baseline on held-out ratings before the factorisation is
    // used: a tenth of the ratings, or a sample of `heldOutLimit` of them where a tenth would be more, which keeps
    // the check's cost small on large data and its verdict sharp.
    bool validate = true;
    std::size_t heldOutLimit = 200000;
    // An item neighbourhood on the residuals of the model above, added with a weight fitted on the held-out ratings
    // (so only where the held-out check runs): each item keeps its `neighbours` most similar items, a similarity
    // from c co-raters is shrunk by c / (c + neighbourShrink), and a prediction's neighbour term is damped by
    // `neighbourDamping` added to its sum of weights, so that a user with few related ratings gets little of it.
    // Where the co-rating work (the sum over users of their rating count squared) exceeds neighbourLimit, the
    // similarities come from a sample of the users whose work is a tenth of it. neighbours = 0: no neighbourhood.
    int neighbours = 40;
    double neighbourShrink = 50.0;
    double neighbourDamping = 1.0;
    std::size_t neighbourLimit = 300000000;
    // Seed of the sampler; the same seed and ratings give the same model.
    std::uint64_t seed = 20240607;

    std::string Describe() const;
    static ModelSettings Defaults();
};

// The users and items a model was trained on.
struct ModelShape {
    ModelShape() = default;
    ModelShape(std::uint32_t userCount, std::uint32_t itemCount, std::optional<std::uint64_t> ratingCount = {})
        : users(userCount), items(itemCount), ratings(ratingCount) {}

    std::uint32_t users = 0;
    std::uint32_t items = 0;
    // The ratings it was trained on, when known: no part of a model holds more entries than that.
    std::optional<std::uint64_t> ratings;
};

// The number of threads training uses: QUILLORY_THREADS when it holds a number from 1 to 256, else the machine's
// cores. The thread count never changes what is trained, only how fast.
unsigned TrainingThreads();

// Told (step, steps) by a training as it goes: step 0 first, then after the baseline, after each sweep of the
// starting fit and of the sampler, and steps of steps last; step never goes back nor beyond steps.
using TrainingProgress = std::function<void(int, int)>;

class CRatingSequence;

// The prediction model. Deterministic: the same ratings and settings give the same predictions on every run.
class CRatingModel {
public:
    explicit CRatingModel(ModelSettings settings = ModelSettings::Defaults());
    ~CRatingModel();
    CRatingModel(CRatingModel&&) noexcept;
    CRatingModel& operator=(CRatingModel&&) noexcept;

    const ModelSettings& Settings() const;

    // Trains on every rating. Users 0..numUsers-1 and items 0..numItems-1; any of them may have no ratings.
    // `progress`, when set, is called on the calling thread between the training's steps; it changes nothing of
    // what is trained. Throws std::invalid_argument for a rating outside that range or not finite.
    void Train(std::span<const Rating> ratings, std::uint32_t numUsers, std::uint32_t numItems,
               const TrainingProgress& progress = {});
    // The same from ratings grouped by user, read where they stand (Row() from several threads at once) rather
    // than copied: the same rows give the same model as the same ratings taken user by user.
    void Train(const IRatedRows& rows, std::uint32_t numUsers, std::uint32_t numItems,
               const TrainingProgress& progress = {});

    // The predicted rating, always within [1, 5] and never NaN. `user` may be any index, also one beyond the
    // trained users (a user registered since): users with no ratings get a sound fallback (the item's baseline).
    // Items must be < numItems.
    double Predict(std::uint32_t user, std::uint32_t item) const;

    // Solves the user's bias and factors again against the trained item parameters, from all of his ratings;
    // afterwards Predict for this user reflects them. Works for users beyond the trained range as well.
    void FoldInUser(std::uint32_t user, UserRatings ratings);

    // Writes every trained parameter to `path` atomically (a temporary of its own, then rename), with `fingerprint`
    // and a checksum. An existing file at `path` is replaced only when it is a model file; anything else is left
    // alone. Throws std::runtime_error when nothing was written, saying why.
    void Save(const std::filesystem::path& path, std::string_view fingerprint) const;
    // Loads a model saved with this fingerprint (and, when given, trained on exactly this many users and items, and
    // on no more ratings than given), with `ratings` the ratings it was trained on. Returns false, leaving the model
    // as it was, when the file is missing, not a regular file, was saved with another fingerprint, or has any size,
    // length or checksum that is not exactly right, or when `ratings` are not as many, or not of as many users, as
    // the model was trained on; never throws for a bad file. Nothing is allocated before every count of the header
    // is found within what these settings and that shape allow and the file's length matches the header, so a file
    // that claims more than the data could give (a sparse file of gigabytes, say) costs nothing to refuse.
    bool Load(const std::filesystem::path& path, std::string_view fingerprint, const IRatedRows& ratings,
              std::optional<ModelShape> expected = std::nullopt);
    bool Load(const std::filesystem::path& path, std::string_view fingerprint, std::span<const Rating> ratings,
              std::optional<ModelShape> expected = std::nullopt);

    // The bias baseline alone (global mean + user bias + item bias, clamped to [1, 5]), for comparison.
    double PredictBaseline(std::uint32_t user, std::uint32_t item) const;

    // One line about the trained model (sizes, samples kept, what the held-out check found), for tools and logs.
    std::string Summary() const;

private:
    bool LoadChecked(const std::filesystem::path& path, std::string_view fingerprint, const IRatedRows& ratings,
                     std::optional<ModelShape> expected);
    // Trains on `ratings`; `rows`, where set, are the same ratings grouped by user.
    void TrainOn(const CRatingSequence& ratings, const IRatedRows* rows, std::uint32_t numUsers, std::uint32_t numItems,
                 const TrainingProgress& progress);

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace quillory::model
