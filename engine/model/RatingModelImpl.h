#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

#include "ModelCommon.h"
#include "RatingModel.h"
#include "RatingRows.h"

namespace quillory::model {

class CThreadPool;

// The held-out check's chain: sweeps discarded, then samples averaged. More samples than burn-in, because the
// check compares the averaged model with the baseline, and few samples understate it.
constexpr int kCheckBurnIn = 4;
constexpr std::uint32_t kCheckSamples = 8;
// Sweeps discarded when the final chain goes on from the check's.
constexpr int kWarmBurnIn = 2;
// From this many ratings the work budget may shorten the chain to 4 + 8 sweeps rather than 6 + 12.
constexpr std::size_t kShortChainRatings = 8000000;

// The neighbour weights (all in (0, 1]) and the stored residuals are kept at the precision the model cache stores
// them with, 16 bits each, so that a model read from its cache predicts exactly what the trained one did.
constexpr float kWeightScale = 65535.0f;
constexpr float kResidualScale = 2048.0f; // residuals within +-16
inline std::uint16_t WeightCode(float weight) {
    return static_cast<std::uint16_t>(std::clamp(std::lround(weight * kWeightScale), 1L, 65535L));
}
inline float WeightOf(std::uint16_t code) {
    return static_cast<float>(code) / kWeightScale;
}
inline std::int16_t ResidualCode(float residual) {
    return static_cast<std::int16_t>(std::clamp(std::lround(residual * kResidualScale), -32767L, 32767L));
}
inline float ResidualOf(std::int16_t code) {
    return static_cast<float>(code) / kResidualScale;
}

// Everything a trained model holds, and the steps that train it; each concern's steps live in a file of their own
// (BiasBaseline, GibbsChain, SampleAverage, FoldInSolve, ItemNeighbourhood, RatedLists, UserView, HeldOutCheck,
// ModelFile).
struct CRatingModel::Impl {
    ModelSettings settings;
    std::uint32_t numUsers = 0;
    std::uint32_t numItems = 0;
    float mean = 3.0f;

    // Bias baseline.
    std::vector<float> baseUserBias;
    std::vector<float> baseItemBias;

    // Averaged factorisation; width = factors * samples. Training keeps `samples` of them and then averages them
    // into one (AverageSamples): a trained or loaded model holds one sample, and `sweeps` says how many it averages.
    std::uint32_t factors = 0;
    std::uint32_t samples = 0;
    std::uint32_t sweeps = 0;
    // The users, solved against the averaged sample at the end of training (the chain keeps none of its users).
    std::vector<float> userBias;
    std::vector<float> userFactors;      // numUsers x width
    std::vector<float> itemBias;         // mean over samples
    std::vector<float> itemFactors;      // numItems x width, already divided by the sample count
    std::vector<float> itemSampleBias;   // numItems x samples, for fold-in
    std::vector<float> itemVariance;     // numItems x (factors + 1): each item's spread over the averaged samples
    std::vector<float> priorUserFactors; // width: a user without ratings
    float priorUserBias = 0.0f;
    // Per sample, the user side's prior (mean, precision) and the noise precision, for fold-in.
    std::vector<Vector> hyperMean;
    std::vector<Matrix> hyperPrecision;
    std::vector<double> noisePrecision;
    // Per sample, the implicit-feedback vectors (numItems x samples x (factors + 1)): a user's prior mean is moved
    // by the normalised sum of the vectors of the items he rated.
    std::vector<float> implicitVectors;

    // Item neighbourhood (empty when unused): item i's neighbours are neighbourIndex / neighbourWeight
    // [neighbourStart[i], neighbourStart[i + 1]), sorted by index, all weights positive. The neighbour term is
    // added to the core prediction (factorisation, or the baseline where that stands alone) with neighbourBlend.
    std::vector<std::uint64_t> neighbourStart;
    std::vector<std::uint32_t> neighbourIndex;
    std::vector<float> neighbourWeight;
    float neighbourBlend = 0.0f;
    // Every trained user's ratings, sorted by item, as residuals of the core prediction (ResidualCode): what the
    // neighbour term reads. User u's are [ratedStart[u], ratedStart[u + 1]).
    std::vector<std::uint64_t> ratedStart;
    std::vector<std::uint32_t> ratedItem;
    std::vector<std::int16_t> ratedResidual;
    // A heavy rater's items as a bit per item, with the count of set bits before each word, so that the
    // neighbour term finds a neighbour among his ratings in constant time rather than by a search.
    struct ItemSet {
        std::vector<std::uint64_t> bits;
        std::vector<std::uint32_t> ranks;
    };
    struct RatedList {
        std::vector<std::uint32_t> items;
        std::vector<std::int16_t> residuals; // ResidualCode
        ItemSet set;                         // empty unless the user rated many items
    };
    // Per trained user, his item set's index in heavySets, or kNoSet.
    static constexpr std::uint32_t kNoSet = 0xffffffffu;
    std::vector<std::uint32_t> heavyOf;
    std::vector<ItemSet> heavySets;
    // Trained users folded in since training: their residuals replace the trained ones.
    std::unordered_map<std::uint32_t, RatedList> foldedRated;

    // Users folded in beyond the trained range.
    struct ExtraUser {
        float baseBias = 0.0f;
        float bias = 0.0f;
        std::vector<float> factors;
        RatedList rated;
    };
    std::unordered_map<std::uint32_t, ExtraUser> extraUsers;

    // What a prediction for one user reads.
    struct UserView {
        const float* row = nullptr; // factors (width), when the model has them
        float bias = 0.0f;
        float baseBias = 0.0f;
        const std::uint32_t* items = nullptr;    // rated items, sorted, with their residuals
        const std::int16_t* residuals = nullptr; // ResidualCode
        std::size_t count = 0;
        const ItemSet* set = nullptr; // for heavy raters
    };

    // The threads training runs on (none: the calling thread alone). Set only while training.
    CThreadPool* threads = nullptr;

    // The steps of a training as they are told to its progress callback.
    struct Steps {
        const TrainingProgress* report = nullptr;
        int done = 0;
        int total = 0;
        void Next() {
            done = std::min(done + 1, total);
            if (*report) {
                (*report)(done, total);
            }
        }
    };
    // Set only while training.
    Steps* steps = nullptr;

    // Sweeps discarded before averaging (the setting, or fewer on large data).
    int burnIn = 0;

    // What the held-out check found (0 when it did not run).
    double validationRmse = 0.0;
    double validationBaselineRmse = 0.0;
    double blendRmse = 0.0; // with the neighbour term, when it is used

    std::size_t Width() const { return std::size_t(factors) * samples; }
    bool HasFactors() const { return Width() > 0; }
    bool HasImplicit() const { return !implicitVectors.empty(); }
    bool HasNeighbours() const { return !neighbourStart.empty(); }

    UserView View(std::uint32_t user) const;
    // The unclamped prediction of the factorisation (or of the baseline where there is none).
    double Core(const UserView& user, std::uint32_t item) const;
    // The damped neighbour-weighted mean of the user's residuals on the item's neighbours.
    double NeighbourTerm(const UserView& user, std::uint32_t item) const;
    // Sorted residual list of one user's ratings against his current parameters.
    RatedList MakeRatedList(std::uint32_t user, UserRatings ratings) const;
    // Stores every user's residuals and finds each item's neighbours from them (ItemNeighbourhood).
    void BuildNeighbours(const Rows& byUser);
    // The steps of the neighbourhood's building, and what they pass on.
    class CNeighbourBuild;
    // The rated lists (ratedStart, ratedItem, ratedResidual) of the users' ratings, each user's sorted by item, with
    // their residuals against the core model, or, with haveResiduals, with the residuals ratedResidual already holds
    // (a loaded model's). False when the rows are not ratings of this model's users and items.
    bool FillRatedLists(const IRatedRows& rows, bool haveResiduals = false);
    // Users with this many ratings get an item set: a bit per item costs at most a few bytes per rating then.
    bool IsHeavy(std::size_t count) const { return count >= std::max<std::size_t>(64, numItems / 64); }
    ItemSet MakeItemSet(const std::uint32_t* items, std::size_t count) const;
    // The item sets of the trained heavy raters (after training or loading).
    void IndexHeavyUsers();

    // Where a chain stopped, so that another on nearly the same ratings can go on from there.
    struct ChainState {
        Matrix users, items, implicitY;
        double alpha = 2.0;
        double implicitPrecision = 1.0;
    };

    // The chain's length, and whether the held-out check runs before it.
    struct ChainPlan {
        int burnIn = 0;
        std::uint32_t samples = 0;
        bool check = false;
        // Large data: the check's chain, on all but a held-out sample, is the model itself (see HeldOutCheck).
        bool checkChainIsModel = false;
    };

    // The global mean, `sum` over the ratings of `grouped`, and the bias baseline on them.
    void FitBaseline(double sum, const GroupedRatings& grouped);
    void TrainBaseline(const GroupedRatings& grouped);
    // How long the chain runs on this many ratings, of which `withRatings` users and items have any: the settings,
    // shortened to the work budget.
    ChainPlan PlanChain(std::size_t ratings, std::size_t withRatings) const;
    // The sweeps the chains of this plan run: the starting fit's, the held-out check's, then the final one's.
    static int PlannedSweeps(const ChainPlan& plan, const ModelSettings& settings);
    // Runs a chain on all but the held-out ratings, compares it with the baseline there, and fits the neighbour
    // term's weight on them. Drops the factorisation from `plan` when it does not beat the baseline. A short chain
    // leaves its state in `chain` for the final chain to go on from; with plan.checkChainIsModel, the chain runs
    // in full and becomes this model, neighbourhood included. Returns the neighbour weight (0: none).
    double CheckOnHeldOut(const CRatingSequence& ratings, ChainPlan& plan, ChainState& chain);
    // The neighbour term's weight on the held-out ratings, for the probe's model (its neighbourhood built here).
    double FitNeighbourBlend(Impl& probe, const Rows& trainByUser, std::span<const Rating> heldOut);
    // Makes the check's chain this model.
    void AdoptCheckChain(Impl& probe, double blend);
    // One run of the sampler: the chain's state and the steps of a sweep (GibbsChain).
    class CGibbsChain;
    // Runs the sampler and keeps `sampleCount` samples. With `curve`, also records after each kept sample the RMSE
    // of the averaged model on `heldOut`. With `state`, a chain that holds a state of the same shape goes on from
    // it (no starting fit); the chain's last state is left there either way.
    void TrainFactorisation(const GroupedRatings& grouped, std::uint32_t sampleCount,
                            std::span<const Rating> heldOut = {}, std::vector<double>* curve = nullptr,
                            ChainState* state = nullptr);
    // Makes the kept samples one averaged sample, and solves the users against it (the end of training).
    void AverageSamples(const Rows& byUser);
    // Its steps: each item's factors and implicit vector averaged over the samples; each item's spread over them
    // (itemVariance); sample s's items (bias, factors) as rows [first, last) of `out`; the users' prior and the
    // noise precision averaged.
    std::vector<float> AverageItemFactors() const;
    std::vector<float> AverageImplicitVectors() const;
    void MeasureItemSpread(const std::vector<float>& averagedFactors);
    void SampleItemRows(std::size_t s, std::size_t first, std::size_t last, Matrix& out) const;
    void AveragePriors();
    // Every trained user, and the prior of a user without ratings, solved as fold-in solves them (FoldInSolve).
    void SolveUsers(const Rows& byUser);
    // The user's conditional mean given the items of each sample and his ratings.
    void SolveUser(UserRatings ratings, float& bias, float* factorsOut) const;
    // The user's bias against the bias baseline (BiasBaseline).
    float SolveBaseBias(UserRatings ratings) const;
};

} // namespace quillory::model
