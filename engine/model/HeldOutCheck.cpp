// The held-out check: whether the factorisation earns its place at all, and how much the item neighbourhood adds,
// is decided on ratings the check's chain did not see. A short chain on the rest (a few samples, which only
// understates the full model) is compared with the baseline fitted on the same part; where it is no better, as can
// happen on very sparse data, the baseline is the model. The check runs at every size: on large data it holds out a
// sample of fixed size rather than a tenth, which costs little and still tells the two apart.

#include <algorithm>
#include <cmath>

#include "Random.h"
#include "RatingModelImpl.h"
#include "ThreadPool.h"

namespace quillory::model {

double CRatingModel::Impl::CheckOnHeldOut(const CRatingSequence& ratings, ChainPlan& plan, ChainState& chain) {
    // The held-out ratings are copied; the rest are trained on where they stand, marked, which on large data spares
    // a copy of nearly all of them. One pass draws the marks, copies and sums the stars of those trained on.
    std::vector<char> held(ratings.Size(), 0);
    std::vector<Rating> heldOut;
    double trainedSum = 0.0;
    const std::size_t limit = std::max<std::size_t>(1, settings.heldOutLimit);
    const bool sampled = plan.checkChainIsModel;
    std::uint64_t state = settings.seed ^ 0x5eed5eedull;
    ratings.ForEach(0, ratings.Size(), [&](std::size_t k, const Rating& r) {
        const std::uint64_t draw = SplitMix(state);
        if (sampled ? draw % ratings.Size() < limit : draw % 10 == 0) {
            held[k] = 1;
            heldOut.push_back(r);
        } else {
            trainedSum += r.value;
        }
    });
    if (heldOut.empty() || heldOut.size() == ratings.Size()) {
        plan.checkChainIsModel = false;
        return 0.0;
    }

    Impl probe;
    probe.settings = settings;
    probe.threads = threads;
    probe.steps = steps;
    probe.burnIn = plan.checkChainIsModel ? plan.burnIn : std::clamp(settings.burnIn, 0, kCheckBurnIn);
    probe.numUsers = numUsers;
    probe.numItems = numItems;
    GroupedRatings grouped = GroupRatings(ratings, held, numUsers, numItems, threads);
    probe.FitBaseline(trainedSum, grouped);
    // What the chain trains on is grouped, the held-out ratings copied: the marks are done with.
    std::vector<char>().swap(held);
    std::vector<double> curve;
    probe.TrainFactorisation(grouped, plan.checkChainIsModel ? plan.samples : std::min(plan.samples, kCheckSamples),
                             heldOut, &curve, &chain);
    // Only the chain reads the ratings by item: the neighbourhood below builds its lists beside the user's.
    grouped.byItem = Rows();
    double baseSe = 0.0;
    for (const Rating& r : heldOut) {
        const double e = Clamp(double(probe.mean) + probe.baseUserBias[r.user] + probe.baseItemBias[r.item]) - r.value;
        baseSe += e * e;
    }
    validationRmse = curve.empty() ? 0.0 : curve.back();
    validationBaselineRmse = std::sqrt(baseSe / static_cast<double>(heldOut.size()));
    if (curve.empty() || validationRmse >= validationBaselineRmse) {
        plan.samples = 0;
        probe.factors = 0; // the neighbourhood below then refines the baseline
        probe.samples = 0;
        probe.sweeps = 0;
    }
    double blend = 0.0;
    if (settings.neighbours > 0) {
        blend = FitNeighbourBlend(probe, grouped.byUser, heldOut);
    }
    if (plan.checkChainIsModel) {
        AdoptCheckChain(probe, blend);
    }
    return blend;
}

void CRatingModel::Impl::AdoptCheckChain(Impl& probe, double blend) {
    // The chain on all but the held-out sample is the model: its parameters, its neighbourhood where that helps,
    // and what the check found.
    if (probe.factors == 0) {
        probe.userBias.clear();
        probe.itemBias.clear();
        probe.userFactors.clear();
        probe.itemFactors.clear();
        probe.itemSampleBias.clear();
        probe.itemVariance.clear();
        probe.priorUserFactors.clear();
        probe.hyperMean.clear();
        probe.hyperPrecision.clear();
        probe.noisePrecision.clear();
        probe.implicitVectors.clear();
    }
    if (blend > 0.0) {
        probe.neighbourBlend = static_cast<float>(blend);
    } else {
        probe.neighbourStart.clear();
        probe.neighbourIndex.clear();
        probe.neighbourWeight.clear();
        probe.ratedStart.clear();
        probe.ratedItem.clear();
        probe.ratedResidual.clear();
        probe.heavyOf.clear();
        probe.heavySets.clear();
    }
    probe.validationRmse = validationRmse;
    probe.validationBaselineRmse = validationBaselineRmse;
    probe.blendRmse = blendRmse;
    probe.threads = threads;
    probe.steps = steps;
    *this = std::move(probe);
}

double CRatingModel::Impl::FitNeighbourBlend(Impl& probe, const Rows& trainByUser, std::span<const Rating> heldOut) {
    // The neighbour term's weight: least squares of the core model's held-out errors on the term, kept only where
    // it lowers the held-out error. On data too sparse for neighbours to tell anything, the damping keeps the term
    // small and the fit or the check leaves the core model alone.
    probe.BuildNeighbours(trainByUser);
    // Each held-out rating's two terms over the threads; the sums below then add them in order.
    std::vector<double> core(heldOut.size()), term(heldOut.size());
    constexpr std::size_t kPerChunk = 1024;
    const auto evaluate = [&](std::size_t chunk, unsigned) {
        const std::size_t last = std::min(heldOut.size(), (chunk + 1) * kPerChunk);
        for (std::size_t j = chunk * kPerChunk; j < last; ++j) {
            const UserView view = probe.View(heldOut[j].user);
            core[j] = probe.Core(view, heldOut[j].item);
            term[j] = probe.NeighbourTerm(view, heldOut[j].item);
        }
    };
    const std::size_t chunks = (heldOut.size() + kPerChunk - 1) / kPerChunk;
    if (threads) {
        threads->Run(chunks, evaluate);
    } else {
        for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
            evaluate(chunk, 0);
        }
    }
    double errorTerm = 0.0, termTerm = 0.0;
    for (std::size_t j = 0; j < heldOut.size(); ++j) {
        errorTerm += (heldOut[j].value - core[j]) * term[j];
        termTerm += term[j] * term[j];
    }
    const double weight = termTerm > 0.0 ? std::clamp(errorTerm / termTerm, 0.0, 2.0) : 0.0;
    double coreSe = 0.0, blendSe = 0.0;
    for (std::size_t j = 0; j < heldOut.size(); ++j) {
        const double e0 = Clamp(core[j]) - heldOut[j].value;
        const double e1 = Clamp(core[j] + weight * term[j]) - heldOut[j].value;
        coreSe += e0 * e0;
        blendSe += e1 * e1;
    }
    if (blendSe >= coreSe) {
        return 0.0;
    }
    blendRmse = std::sqrt(blendSe / static_cast<double>(heldOut.size()));
    return weight;
}

} // namespace quillory::model
