// The sampler of the Bayesian factorisation (Salakhutdinov and Mnih, 2008) as a chain of sweeps: each sweep draws
// the hyperparameters of both sides, every item's and user's vector from its Gaussian conditional, the
// implicit-feedback vectors and the noise precision, and keeps what a sample keeps. The kernels it runs are in
// HyperDraw, RowDraws and ImplicitKernels; what becomes of the kept samples, in SampleAverage.

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include <Eigen/Core>

#include "DenseKernels.h"
#include "HyperDraw.h"
#include "ImplicitKernels.h"
#include "Random.h"
#include "RatingModelImpl.h"
#include "RatingRows.h"
#include "RowDraws.h"
#include "ThreadPool.h"

namespace quillory::model {

// One run of the sampler on one set of ratings: the chain's state (both sides' vectors, the implicit vectors, the
// precisions, the shared random stream) and the steps of a sweep, each of which writes what it keeps straight into
// the model. The steps draw from the shared stream in a fixed order and spread their rows over the threads in chunks
// whose bounds do not depend on the thread count, so that a seed trains the same bits on any number of threads.
class CRatingModel::Impl::CGibbsChain {
public:
    // Sets up the chain on the ratings grouped both ways in `grouped` (kept by reference). With `state` of the right
    // shape, the chain goes on from it; with `curve`, each kept sample adds the held-out RMSE of the model averaged so
    // far.
    CGibbsChain(Impl& model, const GroupedRatings& grouped, CThreadPool& pool, const ChainState* state,
                std::span<const Rating> heldOut, std::vector<double>* curve);

    // Where the sweeps start: the state gone on from, or else a ridge least-squares fit.
    void Start();
    // One sweep: both sides' hyperparameters, the items, the implicit vectors, the users, the noise precision.
    // `sample` is the index of the sample the sweep keeps, negative in the burn-in.
    void Sweep(int sample);
    // The chain's last state, for another chain on nearly the same ratings to go on from.
    void LeaveState(ChainState& state);

private:
    // What the implicit step draws from the shared stream, drawn before the step itself runs (see
    // PrepareImplicitStep).
    struct ImplicitStep {
        Matrix q; // eigenvectors and eigenvalues of the prior precision
        Vector e;
        double gamma = 0.0;
    };

    static bool CanGoOnFrom(const Impl& model, const ChainState* state);
    void DrawStartingVectors();
    void ClearSamples();
    void MakeWorkspaces();
    void SetUpImplicit();

    void GoOnFrom(const ChainState& state);
    void FitRidge();
    void FitSide(const Rows& rows, const Matrix& other, Matrix& self, const Hyper& prior);

    Hyper DrawUserHyperLessImplicit();
    ImplicitStep PrepareImplicitStep(const Hyper& userHyper);
    void DrawImplicitVectors(const ImplicitStep& step);
    void UpdateUserPriorMeans(const Hyper& userHyper);
    const Matrix* UserPriorMeans() const { return m_implicit ? &m_priorMeans : nullptr; }
    double DrawUsers(const Hyper& userHyper);
    double DrawAndKeepSample(std::uint32_t s, const Hyper& userHyper);
    void KeepItems(std::uint32_t s);
    void KeepUserPrior(std::uint32_t s, const Hyper& userHyper);
    void RecordHeldOutError(std::uint32_t s);
    void DrawNoisePrecision(double squaredError);

    // One side's step (DrawRows) with the chain's noise precision and mean. `means`, where given, keeps the rows'
    // conditional means; `alongside` runs beside the rows as DrawRows says.
    double DrawSide(const Rows& rows, const Matrix& other, Matrix& self, const Hyper& hyper,
                    const Matrix* rowPriorMeans, std::uint64_t seed, const RowMeans* means = nullptr,
                    const std::function<void()>& alongside = {}) {
        const SideStep step{rows, other, self, hyper, rowPriorMeans, means, m_alpha, m_model.mean, seed};
        return DrawRows(m_pool, step, m_workspaces, alongside);
    }

    Impl& m_model;
    CThreadPool& m_pool;
    const Eigen::Index m_d;
    const std::size_t m_width;
    const double m_invSamples;
    const std::size_t m_ratingCount;
    const Rows& m_byUser;
    const Rows& m_byItem;
    const ChainState* m_goOnFrom; // null: a fresh start
    CRandom m_random;
    // Column c of m_users / m_items is (bias, factors) of user / item c.
    Matrix m_users;
    Matrix m_items;
    double m_alpha; // the noise precision
    std::vector<RowWorkspace> m_workspaces;

    // Implicit feedback: which items a user rated says something about his taste even before the values do, most
    // of all for users with few ratings. Each item j has a vector y_j; a user's prior mean is the population mean
    // plus |N(u)|^-1/2 times the sum of y_j over his rated items N(u). The y_j have a Gaussian prior whose
    // precision has a Gamma hyperprior, and are drawn item by item given the users' vectors.
    const bool m_implicit;
    Matrix m_implicitY;
    Matrix m_implicitPart; // column u: |N(u)|^-1/2 times the sum of y_j over N(u)
    // w_u - mean - sum_j f_uj y_j for every user; each y_j is drawn from its conditional given the rest, and the
    // residuals of its raters are updated at once.
    Matrix m_residual;
    Matrix m_priorMeans; // the users' prior means: the hyperparameters' mean plus the implicit part
    std::vector<double> m_userScale;
    double m_implicitPrecision;
    Matrix m_implicitNoise; // column j: the normal variates of item j's draw
    std::size_t m_implicitRows = 0;

    std::span<const Rating> m_heldOut;
    std::vector<double>* m_curve;
    // This sample's users (biases, factors) as their conditional means, for the held-out curve.
    std::vector<double> m_sampleUserBias;
    std::vector<float> m_sampleUserFactors;
    std::vector<double> m_heldOutSum; // per held-out rating, the sum of its predictions over the samples so far
};

CRatingModel::Impl::CGibbsChain::CGibbsChain(Impl& model, const GroupedRatings& grouped, CThreadPool& pool,
                                             const ChainState* state, std::span<const Rating> heldOut,
                                             std::vector<double>* curve)
    : m_model(model), m_pool(pool), m_d(model.factors + 1), m_width(model.Width()), m_invSamples(1.0 / model.samples),
      m_ratingCount(grouped.byUser.index.size()), m_byUser(grouped.byUser), m_byItem(grouped.byItem),
      m_goOnFrom(CanGoOnFrom(model, state) ? state : nullptr), m_random(model.settings.seed + (m_goOnFrom ? 1 : 0)),
      m_alpha(m_goOnFrom ? m_goOnFrom->alpha : 2.0), m_implicit(model.settings.implicitFeedback),
      m_implicitPrecision(m_goOnFrom ? m_goOnFrom->implicitPrecision : 1.0), m_heldOut(heldOut), m_curve(curve),
      m_sampleUserBias(curve ? model.numUsers : 0, 0.0),
      m_sampleUserFactors(curve ? std::size_t(model.numUsers) * model.factors : 0, 0.0f),
      m_heldOutSum(curve ? heldOut.size() : 0, 0.0) {
    // The starting vectors take the shared stream in order; the rest is memory made ready beside them, none of it
    // read or written by the others.
    m_pool.Run(3, [&](std::size_t task, unsigned) {
        if (task == 0) {
            DrawStartingVectors();
        } else if (task == 1) {
            ClearSamples();
        } else {
            MakeWorkspaces();
            SetUpImplicit();
        }
    });
}

bool CRatingModel::Impl::CGibbsChain::CanGoOnFrom(const Impl& model, const ChainState* state) {
    return state && state->users.rows() == model.factors + 1 && state->users.cols() == model.numUsers &&
           state->items.cols() == model.numItems &&
           state->implicitY.cols() == (model.settings.implicitFeedback ? model.numItems : 0);
}

void CRatingModel::Impl::CGibbsChain::DrawStartingVectors() {
    // The baseline biases and small random factors. Drawn when the chain goes on from a state as well, which then
    // replaces them: every later draw depends on where the shared stream stands.
    m_users.resize(m_d, m_model.numUsers);
    m_items.resize(m_d, m_model.numItems);
    for (std::uint32_t u = 0; u < m_model.numUsers; ++u) {
        m_users(0, u) = m_model.baseUserBias[u];
        for (Eigen::Index f = 1; f < m_d; ++f) {
            m_users(f, u) = 0.1 * m_random.Normal();
        }
    }
    for (std::uint32_t i = 0; i < m_model.numItems; ++i) {
        m_items(0, i) = m_model.baseItemBias[i];
        for (Eigen::Index f = 1; f < m_d; ++f) {
            m_items(f, i) = 0.1 * m_random.Normal();
        }
    }
}

void CRatingModel::Impl::CGibbsChain::ClearSamples() {
    Impl& m = m_model;
    // The users are solved at the end (SolveUsers); what an earlier training left of them is given back now.
    std::vector<float>().swap(m.userBias);
    std::vector<float>().swap(m.userFactors);
    m.itemBias.assign(m.numItems, 0.0f);
    m.itemFactors.assign(std::size_t(m.numItems) * m_width, 0.0f);
    m.itemSampleBias.assign(std::size_t(m.numItems) * m.samples, 0.0f);
    m.priorUserFactors.assign(m_width, 0.0f);
    m.priorUserBias = 0.0f;
    m.hyperMean.clear();
    m.hyperPrecision.clear();
    m.noisePrecision.clear();
    m.implicitVectors.assign(m_implicit ? std::size_t(m.numItems) * m.samples * std::size_t(m_d) : 0, 0.0f);
}

void CRatingModel::Impl::CGibbsChain::MakeWorkspaces() {
    std::size_t longest = 0;
    for (std::uint32_t u = 0; u < m_model.numUsers; ++u) {
        longest = std::max(longest, m_byUser.Count(u));
    }
    for (std::uint32_t i = 0; i < m_model.numItems; ++i) {
        longest = std::max(longest, m_byItem.Count(i));
    }
    m_workspaces = MakeRowWorkspaces(m_pool.Threads(), m_d, longest);
}

void CRatingModel::Impl::CGibbsChain::SetUpImplicit() {
    const std::uint32_t users = m_implicit ? m_model.numUsers : 0;
    const std::uint32_t items = m_implicit ? m_model.numItems : 0;
    m_implicitY = Matrix::Zero(m_d, items);
    m_implicitPart = Matrix::Zero(m_d, users);
    m_userScale.assign(users, 0.0);
    for (std::size_t u = 0; u < m_userScale.size(); ++u) {
        if (m_byUser.Count(u) > 0) {
            m_userScale[u] = 1.0 / std::sqrt(static_cast<double>(m_byUser.Count(u)));
        }
    }
    m_implicitNoise.resize(m_d, items);
    for (std::uint32_t j = 0; j < m_model.numItems; ++j) {
        m_implicitRows += m_byItem.Count(j) > 0;
    }
}

void CRatingModel::Impl::CGibbsChain::Start() {
    if (m_goOnFrom) {
        GoOnFrom(*m_goOnFrom);
    } else if (m_model.settings.initSweeps > 0) {
        FitRidge();
    }
}

void CRatingModel::Impl::CGibbsChain::GoOnFrom(const ChainState& state) {
    m_users = state.users;
    m_items = state.items;
    if (m_implicit) {
        m_implicitY = state.implicitY;
        ComputeImplicitPart(m_pool, m_byUser, m_userScale, m_implicitY, m_implicitPart);
    }
}

void CRatingModel::Impl::CGibbsChain::FitRidge() {
    // A few alternating ridge least-squares sweeps rather than the small random factors alone: from there the
    // sampler needs far fewer sweeps to settle, on sparse data (where the fit stays small) as on dense data (where
    // it does not). The implicit part stays zero until the first sweep draws the implicit vectors.
    Hyper ridge;
    ridge.mean = Vector::Zero(m_d);
    ridge.precision = Matrix::Identity(m_d, m_d) * m_model.settings.initRidge;
    for (int sweep = 0; sweep < m_model.settings.initSweeps; ++sweep) {
        FitSide(m_byItem, m_users, m_items, ridge);
        FitSide(m_byUser, m_items, m_users, ridge);
        if (m_model.steps) {
            m_model.steps->Next();
        }
    }
}

void CRatingModel::Impl::CGibbsChain::FitSide(const Rows& rows, const Matrix& other, Matrix& self, const Hyper& prior) {
    // Every row takes its conditional mean, with unit noise precision: a ridge least-squares step.
    SideStep step{rows, other, self, prior, nullptr, nullptr, 1.0, m_model.mean, m_random.Next()};
    step.draw = false;
    DrawRows(m_pool, step, m_workspaces);
}

void CRatingModel::Impl::CGibbsChain::Sweep(int sample) {
    const Hyper itemHyper = SampleHyper(m_items, m_byItem, m_random, m_pool);
    const std::uint64_t itemSeed = m_random.Next();
    Hyper userHyper;
    if (m_implicit) {
        // The users' hyperparameters come first, since the implicit vectors are drawn given them; those are drawn
        // beside the item side's step, which needs neither, and each user's prior mean follows from the items he
        // rated.
        userHyper = DrawUserHyperLessImplicit();
        const ImplicitStep step = PrepareImplicitStep(userHyper);
        DrawSide(m_byItem, m_users, m_items, itemHyper, nullptr, itemSeed, nullptr, [&] { DrawImplicitVectors(step); });
        UpdateUserPriorMeans(userHyper);
    } else {
        DrawSide(m_byItem, m_users, m_items, itemHyper, nullptr, itemSeed);
        userHyper = SampleHyper(m_users, m_byUser, m_random, m_pool);
    }
    const double squaredError =
        sample >= 0 ? DrawAndKeepSample(static_cast<std::uint32_t>(sample), userHyper) : DrawUsers(userHyper);
    DrawNoisePrecision(squaredError);
}

Hyper CRatingModel::Impl::CGibbsChain::DrawUserHyperLessImplicit() {
    // The hyperparameters of the users' vectors less their implicit part; those, less the mean drawn, are the
    // residuals the implicit step starts from.
    m_residual = m_users - m_implicitPart;
    Hyper userHyper = SampleHyper(m_residual, m_byUser, m_random, m_pool);
    m_residual.colwise() -= userHyper.mean;
    return userHyper;
}

CRatingModel::Impl::CGibbsChain::ImplicitStep
CRatingModel::Impl::CGibbsChain::PrepareImplicitStep(const Hyper& userHyper) {
    // Everything the implicit step draws from the shared stream: the seed of the items' normal variates (which are
    // then drawn over the threads, from a stream per item) and the Gamma variate of the vectors' precision, whose
    // shape is known beforehand. The step proper then needs the stream no more, so it can run beside the item
    // side's step, which reads neither the residuals nor the implicit vectors.
    const std::uint64_t noiseSeed = m_random.Next();
    const std::uint32_t items = m_model.numItems;
    const std::size_t chunks = (items + kRowsPerChunk - 1) / kRowsPerChunk;
    m_pool.Run(chunks, [&](std::size_t chunk, unsigned) {
        const std::size_t last = std::min<std::size_t>(items, (chunk + 1) * kRowsPerChunk);
        for (std::size_t j = chunk * kRowsPerChunk; j < last; ++j) {
            CRandom itemRandom = RowRandom(noiseSeed, j);
            for (Eigen::Index f = 0; f < m_d; ++f) {
                m_implicitNoise(f, static_cast<Eigen::Index>(j)) = itemRandom.Normal();
            }
        }
    });
    // One eigendecomposition of the prior precision per sweep makes every item's draw two small products.
    ImplicitStep step;
    SymmetricEigen(userHyper.precision, step.q, step.e);
    step.gamma = m_random.Gamma(1.0 + 0.5 * static_cast<double>(m_implicitRows * static_cast<std::size_t>(m_d)));
    return step;
}

void CRatingModel::Impl::CGibbsChain::DrawImplicitVectors(const ImplicitStep& step) {
    // The vectors, then their precision given the vectors drawn.
    const double squares = DrawImplicit(m_byItem, m_userScale, step.q, step.e, m_implicitPrecision, m_implicitNoise,
                                        m_residual, m_implicitY);
    m_implicitPrecision = step.gamma / (1.0 + 0.5 * squares);
}

void CRatingModel::Impl::CGibbsChain::UpdateUserPriorMeans(const Hyper& userHyper) {
    ComputeImplicitPart(m_pool, m_byUser, m_userScale, m_implicitY, m_implicitPart);
    m_priorMeans = m_implicitPart.colwise() + userHyper.mean;
}

double CRatingModel::Impl::CGibbsChain::DrawUsers(const Hyper& userHyper) {
    return DrawSide(m_byUser, m_items, m_users, userHyper, UserPriorMeans(), m_random.Next());
}

double CRatingModel::Impl::CGibbsChain::DrawAndKeepSample(std::uint32_t s, const Hyper& userHyper) {
    // Items keep this sweep's draw. The users' draws are not kept: the end of training solves every user against the
    // averaged items, as fold-in does. Only the held-out curve reads this sample's users, as their conditional means.
    KeepItems(s);
    double squaredError = 0.0;
    if (m_curve) {
        const RowMeans means{m_sampleUserBias.data(), m_sampleUserFactors.data()};
        squaredError = DrawSide(m_byUser, m_items, m_users, userHyper, UserPriorMeans(), m_random.Next(), &means);
        RecordHeldOutError(s);
    } else {
        squaredError = DrawUsers(userHyper);
    }
    KeepUserPrior(s, userHyper);
    return squaredError;
}

void CRatingModel::Impl::CGibbsChain::KeepItems(std::uint32_t s) {
    Impl& m = m_model;
    constexpr std::size_t kItemsPerChunk = 1024;
    m_pool.Run((m.numItems + kItemsPerChunk - 1) / kItemsPerChunk, [&](std::size_t chunk, unsigned) {
        const auto last = static_cast<std::uint32_t>(std::min<std::size_t>(m.numItems, (chunk + 1) * kItemsPerChunk));
        for (auto i = static_cast<std::uint32_t>(chunk * kItemsPerChunk); i < last; ++i) {
            float* row = &m.itemFactors[std::size_t(i) * m_width + std::size_t(s) * m.factors];
            for (std::uint32_t f = 0; f < m.factors; ++f) {
                row[f] = static_cast<float>(m_items(f + 1, i) * m_invSamples);
            }
            m.itemSampleBias[std::size_t(i) * m.samples + std::size_t(s)] = static_cast<float>(m_items(0, i));
            m.itemBias[i] += static_cast<float>(m_items(0, i) * m_invSamples);
            if (m_implicit) {
                for (Eigen::Index f = 0; f < m_d; ++f) {
                    m.implicitVectors[(std::size_t(i) * m.samples + std::size_t(s)) * std::size_t(m_d) +
                                      static_cast<std::size_t>(f)] = static_cast<float>(m_implicitY(f, i));
                }
            }
        }
    });
}

void CRatingModel::Impl::CGibbsChain::KeepUserPrior(std::uint32_t s, const Hyper& userHyper) {
    // The users' prior and the noise precision this sweep drew them with, which fold-in solves against.
    Impl& m = m_model;
    for (std::uint32_t f = 0; f < m.factors; ++f) {
        m.priorUserFactors[std::size_t(s) * m.factors + f] = static_cast<float>(userHyper.mean(f + 1));
    }
    m.priorUserBias += static_cast<float>(userHyper.mean(0) * m_invSamples);
    m.hyperMean.push_back(userHyper.mean);
    m.hyperPrecision.push_back(userHyper.precision);
    m.noisePrecision.push_back(m_alpha);
}

void CRatingModel::Impl::CGibbsChain::RecordHeldOutError(std::uint32_t s) {
    // The RMSE on the held-out ratings of the model averaged over the samples kept so far, this one included.
    const Impl& m = m_model;
    double se = 0.0;
    for (std::size_t j = 0; j < m_heldOut.size(); ++j) {
        const Rating& r = m_heldOut[j];
        const float* row = &m_sampleUserFactors[std::size_t(r.user) * m.factors];
        double p = m.mean + m_sampleUserBias[r.user] + m_items(0, r.item);
        for (std::uint32_t f = 0; f < m.factors; ++f) {
            p += row[f] * m_items(f + 1, r.item);
        }
        m_heldOutSum[j] += p;
        const double e = std::clamp(m_heldOutSum[j] / (s + 1), 1.0, 5.0) - r.value;
        se += e * e;
    }
    m_curve->push_back(std::sqrt(se / static_cast<double>(std::max<std::size_t>(1, m_heldOut.size()))));
}

void CRatingModel::Impl::CGibbsChain::DrawNoisePrecision(double squaredError) {
    // Gamma(1 + N/2, rate 1 + SSE/2).
    m_alpha = m_random.Gamma(1.0 + 0.5 * static_cast<double>(m_ratingCount)) / (1.0 + 0.5 * squaredError);
}

void CRatingModel::Impl::CGibbsChain::LeaveState(ChainState& state) {
    state.users = std::move(m_users);
    state.items = std::move(m_items);
    state.implicitY = std::move(m_implicitY);
    state.alpha = m_alpha;
    state.implicitPrecision = m_implicitPrecision;
}

void CRatingModel::Impl::TrainFactorisation(const GroupedRatings& grouped, std::uint32_t sampleCount,
                                            std::span<const Rating> heldOut, std::vector<double>* curve,
                                            ChainState* state) {
    factors = static_cast<std::uint32_t>(std::max(0, settings.factors));
    samples = sampleCount;
    if (grouped.byUser.index.empty() || factors == 0 || samples == 0) {
        factors = 0;
        samples = 0;
        return;
    }
    CThreadPool serial(1);
    {
        CGibbsChain chain(*this, grouped, threads ? *threads : serial, state, heldOut, curve);
        chain.Start();
        const int sweeps = burnIn + static_cast<int>(samples);
        for (int sweep = 0; sweep < sweeps; ++sweep) {
            chain.Sweep(sweep - burnIn);
            if (steps) {
                steps->Next();
            }
        }
        if (state) {
            chain.LeaveState(*state);
        }
    }
    AverageSamples(grouped.byUser);
}

} // namespace quillory::model
