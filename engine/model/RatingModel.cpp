#include "RatingModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "RatingModelImpl.h"
#include "ThreadPool.h"

// The model is a Bayesian matrix factorisation with biases, trained by block Gibbs sampling (Salakhutdinov and Mnih,
// 2008): every user has a vector (bias, factors), every item a vector (bias, factors), each side drawn from a
// Gaussian whose mean and precision carry a Normal-Wishart hyperprior, and the noise precision has a Gamma prior.
// Averaging predictions over the samples integrates the regularisation out instead of tuning it, which is what
// makes the model hold up on sparse data where a hand-regularised factorisation overfits. The kept samples are then
// averaged into one: each item's vectors, the users' prior and the noise precision; every user takes his
// conditional mean given those, so the trained model predicts with one dot product of rank length, and its cache
// holds one sample. Folding a user in computes exactly that conditional mean, so a folded-in user and a trained one
// agree; predicting from the averages moves the error by less than the chain's own seed does.
// On top of that: a user's prior mean is moved by the items he rated (implicit feedback), the chain starts from a
// ridge least-squares fit, its length follows a work budget, and a short chain on nine tenths of the ratings must
// beat the bias baseline on the last tenth before the factorisation is used at all; the final chain then goes on
// from where that one stopped, so the check costs little more than the burn-in it replaces.
//
// Beside the factorisation sits an item neighbourhood on its residuals: what a user thought of the items most like
// this one, beyond what the factors predicted for them, moves the prediction. Similarities come from the residuals
// of co-raters and are shrunk where few users rated both; the term is damped where the user rated few neighbours,
// and its weight is fitted on the held-out tenth (and dropped unless it lowers the error there), so it counts only
// as far as it predicts ratings it was not trained on. On very sparse data the damping keeps the term small and
// the prediction close to the factorisation's.
//
// A separate bias baseline (global mean plus ridge-regularised user and item biases fitted by alternating sweeps)
// is kept beside it for comparison and as the answer while nothing is trained.

namespace quillory::model {

std::string ModelSettings::Describe() const {
    char text[320];
    std::snprintf(text, sizeof text,
                  "bias:%g/%g/%d bpmf:k=%d init=%d/%g burn=%d samples=%d budget=%zu implicit=%d validate=%d/%zu "
                  "knn:%d/%g/%g/%zu seed=%llu v6",
                  biasRegUser, biasRegItem, biasSweeps, factors, initSweeps, initRidge, burnIn, samples, workBudget,
                  implicitFeedback ? 1 : 0, validate ? 1 : 0, heldOutLimit, neighbours, neighbourShrink,
                  neighbourDamping, neighbourLimit, static_cast<unsigned long long>(seed));
    return text;
}

ModelSettings ModelSettings::Defaults() {
    return ModelSettings{};
}

CRatingModel::CRatingModel(ModelSettings settings) : m_impl(std::make_unique<Impl>()) {
    m_impl->settings = settings;
}

CRatingModel::~CRatingModel() = default;
CRatingModel::CRatingModel(CRatingModel&&) noexcept = default;
CRatingModel& CRatingModel::operator=(CRatingModel&&) noexcept = default;

const ModelSettings& CRatingModel::Settings() const {
    return m_impl->settings;
}

void CRatingModel::Train(std::span<const Rating> ratings, std::uint32_t numUsers, std::uint32_t numItems,
                         const TrainingProgress& progress) {
    TrainOn(CRatingSequence(ratings), nullptr, numUsers, numItems, progress);
}

void CRatingModel::Train(const IRatedRows& rows, std::uint32_t numUsers, std::uint32_t numItems,
                         const TrainingProgress& progress) {
    if (rows.Users() > numUsers) {
        throw std::invalid_argument("rating outside the trained range");
    }
    TrainOn(CRatingSequence(rows), &rows, numUsers, numItems, progress);
}

void CRatingModel::TrainOn(const CRatingSequence& ratings, const IRatedRows* rows, std::uint32_t numUsers,
                           std::uint32_t numItems, const TrainingProgress& progress) {
    // One pass over the ratings: each within range, the users and items that have any (the plan's measure of the
    // work) and the sum of the stars, added in order.
    std::size_t withRatings = 0;
    double sum = 0.0;
    {
        std::vector<char> userSeen(numUsers, 0), itemSeen(numItems, 0);
        ratings.ForEach(0, ratings.Size(), [&](std::size_t, const Rating& r) {
            if (r.user >= numUsers || r.item >= numItems || !std::isfinite(r.value)) {
                throw std::invalid_argument("rating outside the trained range");
            }
            withRatings += !userSeen[r.user] + !itemSeen[r.item];
            userSeen[r.user] = itemSeen[r.item] = 1;
            sum += r.value;
        });
    }
    CThreadPool threads(TrainingThreads());
    Impl fresh;
    fresh.settings = m_impl->settings;
    fresh.threads = &threads;
    fresh.numUsers = numUsers;
    fresh.numItems = numItems;
    // The plan needs only the counts, so it can come first and tell how many steps there are.
    Impl::ChainPlan plan = fresh.PlanChain(ratings.Size(), withRatings);
    Impl::Steps steps{&progress, 0, 2 + Impl::PlannedSweeps(plan, fresh.settings)};
    fresh.steps = &steps;
    if (progress) {
        progress(0, steps.total);
    }
    // Where the check's chain becomes the model, it brings a baseline of its own, fitted on the ratings it sees.
    GroupedRatings grouped;
    const auto fitBaseline = [&] {
        grouped = GroupRatings(ratings, {}, numUsers, numItems, &threads);
        fresh.FitBaseline(sum, grouped);
    };
    if (!plan.checkChainIsModel) {
        fitBaseline();
    }
    steps.Next();

    // Check: the factorisation must beat the baseline on held-out ratings, and the neighbour term is weighed there.
    Impl::ChainState chain;
    const double neighbourBlend = plan.check ? fresh.CheckOnHeldOut(ratings, plan, chain) : 0.0;
    if (plan.checkChainIsModel && fresh.HasNeighbours()) {
        // The check's chain listed the ratings it saw; the model lists every rating, as a model loaded later does
        // from the ratings it is handed: rows, where trained on, spare a grouped copy of them all.
        if (rows != nullptr) {
            fresh.FillRatedLists(*rows);
        } else {
            const Rows byUser = GroupRatings(ratings, numUsers, true, &threads);
            fresh.FillRatedLists(CRowsByUser(byUser));
        }
        fresh.IndexHeavyUsers();
    }
    if (!plan.checkChainIsModel) {
        if (grouped.byUser.start.empty()) { // the check found nothing to hold out, so its chain is not the model
            fitBaseline();
        }
        // Chain: where the check ran, the final chain goes on from where the check's chain stopped.
        fresh.burnIn = plan.burnIn;
        fresh.TrainFactorisation(grouped, plan.samples, {}, nullptr, &chain);
        // Blend: the neighbourhood on the final model's residuals, with the weight the check found.
        if (neighbourBlend > 0.0) {
            fresh.BuildNeighbours(grouped.byUser);
            fresh.neighbourBlend = static_cast<float>(neighbourBlend);
        }
    }
    fresh.threads = nullptr;
    fresh.steps = nullptr;
    *m_impl = std::move(fresh);
    if (progress) {
        progress(steps.total, steps.total);
    }
}

void CRatingModel::Impl::FitBaseline(double sum, const GroupedRatings& grouped) {
    const std::size_t count = grouped.byUser.index.size();
    mean = count == 0 ? 3.0f : static_cast<float>(sum / static_cast<double>(count));
    TrainBaseline(grouped);
}

CRatingModel::Impl::ChainPlan CRatingModel::Impl::PlanChain(std::size_t ratings, std::size_t withRatings) const {
    ChainPlan plan;
    plan.samples = static_cast<std::uint32_t>(std::max(0, settings.samples));
    plan.burnIn = std::max(0, settings.burnIn);
    plan.check = settings.validate && settings.factors > 0 && plan.samples > 0 && ratings >= 1000;
    // On large data (where a tenth would be more than the held-out limit), one chain on all but a held-out sample
    // is both checked and kept: leaving out a sample of a few percent costs the model little, a second chain would
    // cost as much again. Otherwise the final chain goes on from where the check's chain stopped: that has settled
    // on nine tenths of these ratings, so a short burn-in replaces the starting fit and most of the usual one.
    plan.checkChainIsModel = plan.check && ratings / 10 > std::max<std::size_t>(1, settings.heldOutLimit);
    if (plan.check && !plan.checkChainIsModel) {
        plan.burnIn = std::min(plan.burnIn, kWarmBurnIn);
    }
    // A sweep costs about one unit per rating and sixteen per user or item with ratings (its own small solve).
    // Where the whole chain would exceed the budget, burn-in and samples shrink in proportion (not below 6 and 12, or
    // 4 and 8 from eight million ratings): small dense data gets every sample it asks for, large data, whose
    // posterior is narrow, fewer.
    if (settings.workBudget > 0 && plan.samples > 0) {
        const double perSweep = static_cast<double>(ratings) + 16.0 * static_cast<double>(withRatings);
        const double work = perSweep * (plan.burnIn + plan.samples);
        if (work > static_cast<double>(settings.workBudget)) {
            const double scale = static_cast<double>(settings.workBudget) / work;
            // From eight million ratings, 4 + 8 sweeps: the more ratings, the less the samples differ, and at 10M
            // the held-out RMSE of 4 + 8 is within 0.0005 of 6 + 12's (at 5M the gap is 0.0009), for a third less
            // time.
            const bool veryLarge = ratings >= kShortChainRatings;
            const int leastBurnIn = veryLarge ? 4 : 6;
            const std::uint32_t leastSamples = veryLarge ? 8 : 12;
            plan.burnIn =
                std::min(plan.burnIn, std::max(leastBurnIn, static_cast<int>(std::lround(plan.burnIn * scale))));
            plan.samples = std::min(
                plan.samples, std::max(leastSamples, static_cast<std::uint32_t>(std::lround(plan.samples * scale))));
        }
    }
    return plan;
}

int CRatingModel::Impl::PlannedSweeps(const ChainPlan& plan, const ModelSettings& settings) {
    if (settings.factors <= 0 || plan.samples == 0) {
        return 0;
    }
    const auto samples = static_cast<int>(plan.samples);
    int sweeps = 0;
    if (plan.check) {
        sweeps += plan.checkChainIsModel ? plan.burnIn + samples
                                         : std::clamp(settings.burnIn, 0, kCheckBurnIn) +
                                               std::min(samples, static_cast<int>(kCheckSamples));
    }
    if (!plan.checkChainIsModel) {
        sweeps += plan.burnIn + samples;
    }
    // The first chain starts from a few ridge sweeps; a second goes on from where the first stopped.
    return sweeps + std::max(0, settings.initSweeps);
}

std::string CRatingModel::Summary() const {
    const Impl& m = *m_impl;
    char text[256];
    if (m.validationRmse > 0.0 && m.HasNeighbours()) {
        std::snprintf(text, sizeof text,
                      "%u users, %u items, rank %u, %d + %u sweeps (held-out RMSE %.4f, baseline %.4f), neighbours "
                      "x %.3f (held-out RMSE %.4f)",
                      m.numUsers, m.numItems, m.factors, m.burnIn, m.sweeps, m.validationRmse, m.validationBaselineRmse,
                      double(m.neighbourBlend), m.blendRmse);
    } else if (m.validationRmse > 0.0) {
        std::snprintf(text, sizeof text,
                      "%u users, %u items, rank %u, %d + %u sweeps (held-out RMSE %.4f, baseline %.4f)", m.numUsers,
                      m.numItems, m.factors, m.burnIn, m.sweeps, m.validationRmse, m.validationBaselineRmse);
    } else {
        std::snprintf(text, sizeof text, "%u users, %u items, rank %u, %d + %u sweeps", m.numUsers, m.numItems,
                      m.factors, m.burnIn, m.sweeps);
    }
    return text;
}

double CRatingModel::PredictBaseline(std::uint32_t user, std::uint32_t item) const {
    const Impl& m = *m_impl;
    if (item >= m.numItems) {
        return Clamp(m.mean);
    }
    float userB = 0.0f;
    if (user < m.numUsers) {
        userB = m.baseUserBias[user];
    } else if (auto it = m.extraUsers.find(user); it != m.extraUsers.end()) {
        userB = it->second.baseBias;
    }
    return Clamp(double(m.mean) + m.baseItemBias[item] + userB);
}

double CRatingModel::Predict(std::uint32_t user, std::uint32_t item) const {
    const Impl& m = *m_impl;
    if (!m.HasFactors() && !m.HasNeighbours()) {
        return PredictBaseline(user, item);
    }
    if (item >= m.numItems) {
        return Clamp(m.mean);
    }
    const Impl::UserView view = m.View(user);
    double prediction = m.Core(view, item);
    if (view.count > 0) {
        prediction += m.neighbourBlend * m.NeighbourTerm(view, item);
    }
    return Clamp(prediction);
}

void CRatingModel::FoldInUser(std::uint32_t user, UserRatings ratings) {
    Impl& m = *m_impl;
    const float baseBias = m.SolveBaseBias(ratings);
    if (user < m.numUsers) {
        m.baseUserBias[user] = baseBias;
        if (m.HasFactors()) {
            m.SolveUser(ratings, m.userBias[user], &m.userFactors[std::size_t(user) * m.Width()]);
        }
        if (m.HasNeighbours()) {
            m.foldedRated[user] = m.MakeRatedList(user, ratings);
        }
        return;
    }
    Impl::ExtraUser extra;
    extra.baseBias = baseBias;
    if (m.HasFactors()) {
        extra.factors.resize(m.Width());
        m.SolveUser(ratings, extra.bias, extra.factors.data());
    }
    Impl::ExtraUser& stored = m.extraUsers[user];
    stored = std::move(extra);
    // The residuals are taken against the parameters just solved, so the user must be in place first.
    if (m.HasNeighbours()) {
        stored.rated = m.MakeRatedList(user, ratings);
    }
}

} // namespace quillory::model
