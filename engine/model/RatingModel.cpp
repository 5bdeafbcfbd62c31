#include "RatingModel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <Eigen/Cholesky>
#include <Eigen/Core>

#include "Random.h"

// The model is a Bayesian matrix factorisation with biases, trained by block Gibbs sampling (Salakhutdinov and Mnih,
// 2008): every user has a vector (bias, factors), every item a vector (bias, factors), each side drawn from a
// Gaussian whose mean and precision carry a Normal-Wishart hyperprior, and the noise precision has a Gamma prior.
// Averaging predictions over the samples integrates the regularisation out instead of tuning it, which is what
// makes the model hold up on sparse data where a hand-regularised factorisation overfits. The averaged prediction
// of S samples is mean + average bias + (1/S) * <concatenated user factors, concatenated item factors>, so the
// trained model predicts with one dot product. The user side stores each sample's conditional mean given that
// sample's item vectors; folding a user in computes exactly that, so a folded-in user and a trained one agree.
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
                  "knn:%d/%g/%g/%zu seed=%llu v5",
                  biasRegUser, biasRegItem, biasSweeps, factors, initSweeps, initRidge, burnIn, samples, workBudget,
                  implicitFeedback ? 1 : 0, validate ? 1 : 0, validationLimit, neighbours, neighbourShrink,
                  neighbourDamping, neighbourLimit, static_cast<unsigned long long>(seed));
    return text;
}

ModelSettings ModelSettings::Defaults() {
    return ModelSettings{};
}

namespace {

constexpr char kMagic[8] = {'Q', 'L', 'R', 'M', 'O', 'D', 'E', 'L'};
constexpr std::uint32_t kFormatVersion = 4;
// The held-out check's chain: sweeps discarded, then samples averaged. More samples than burn-in, because the
// check compares the averaged model with the baseline, and few samples understate it.
constexpr int kCheckBurnIn = 4;
constexpr std::uint32_t kCheckSamples = 8;
// Sweeps discarded when the final chain goes on from the check's.
constexpr int kWarmBurnIn = 2;

using Matrix = Eigen::MatrixXd;
using Vector = Eigen::VectorXd;

// FNV-1a over 64-bit words (then the last bytes one by one): the checksum of the cache file, eight times faster
// than byte by byte on files of tens of megabytes.
std::uint64_t Fnv1a(const unsigned char* data, std::size_t size) {
    std::uint64_t hash = 1469598103934665603ull;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, sizeof word);
        hash ^= word;
        hash *= 1099511628211ull;
    }
    for (; i < size; ++i) {
        hash ^= data[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

std::uint64_t SplitMix(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

double Clamp(double value) {
    if (std::isnan(value))
        return 3.0;
    return std::clamp(value, 1.0, 5.0);
}

// Ratings grouped by row (user or item), in input order within a row.
struct Rows {
    std::vector<std::size_t> start; // row r holds entries start[r] .. start[r+1]-1
    std::vector<std::uint32_t> index;
    std::vector<float> value;

    std::size_t Count(std::size_t row) const { return start[row + 1] - start[row]; }
};

Rows GroupRatings(std::span<const Rating> ratings, std::uint32_t count, bool byUser) {
    Rows rows;
    rows.start.assign(std::size_t(count) + 1, 0);
    for (const Rating& r : ratings)
        ++rows.start[(byUser ? r.user : r.item) + 1];
    for (std::size_t i = 0; i < count; ++i)
        rows.start[i + 1] += rows.start[i];
    std::vector<std::size_t> fill(rows.start.begin(), rows.start.end() - 1);
    rows.index.resize(ratings.size());
    rows.value.resize(ratings.size());
    for (const Rating& r : ratings) {
        std::size_t at = fill[byUser ? r.user : r.item]++;
        rows.index[at] = byUser ? r.item : r.user;
        rows.value[at] = r.value;
    }
    return rows;
}

// Mean and precision of one side's vectors.
struct Hyper {
    Vector mean;
    Matrix precision;
};

// Draws the mean and precision of the columns of `params` that have ratings, from their Normal-Wishart posterior
// (prior: mean 0, beta0 = 2, scale matrix I, degrees of freedom = dimension).
Hyper SampleHyper(const Matrix& params, const Rows& rows, CRandom& random) {
    const Eigen::Index d = params.rows();
    const double beta0 = 2.0;
    const double nu0 = static_cast<double>(d);
    Vector sum = Vector::Zero(d);
    std::size_t n = 0;
    for (Eigen::Index c = 0; c < params.cols(); ++c) {
        if (rows.Count(static_cast<std::size_t>(c)) == 0)
            continue;
        sum += params.col(c);
        ++n;
    }
    Hyper hyper;
    if (n == 0) {
        hyper.mean = Vector::Zero(d);
        hyper.precision = Matrix::Identity(d, d) * nu0;
        return hyper;
    }
    const double count = static_cast<double>(n);
    const Vector average = sum / count;
    Matrix scatter = Matrix::Zero(d, d);
    for (Eigen::Index c = 0; c < params.cols(); ++c) {
        if (rows.Count(static_cast<std::size_t>(c)) == 0)
            continue;
        const Vector centred = params.col(c) - average;
        scatter.selfadjointView<Eigen::Lower>().rankUpdate(centred);
    }
    scatter.triangularView<Eigen::StrictlyUpper>() = scatter.transpose();
    Matrix scaleInverse =
        Matrix::Identity(d, d) + scatter + (beta0 * count / (beta0 + count)) * average * average.transpose();
    const Matrix scale = scaleInverse.llt().solve(Matrix::Identity(d, d));
    const double nu = nu0 + count;
    const double beta = beta0 + count;
    const Vector postMean = (count * average) / (beta0 + count);

    // Wishart draw by Bartlett's decomposition: precision = L A A^T L^T.
    const Matrix chol = scale.llt().matrixL();
    Matrix a = Matrix::Zero(d, d);
    for (Eigen::Index i = 0; i < d; ++i) {
        a(i, i) = std::sqrt(2.0 * random.Gamma((nu - static_cast<double>(i)) / 2.0));
        for (Eigen::Index j = 0; j < i; ++j)
            a(i, j) = random.Normal();
    }
    const Matrix la = chol * a;
    hyper.precision = la * la.transpose();

    // mean ~ N(postMean, (beta * precision)^-1)
    Eigen::LLT<Matrix> llt(beta * hyper.precision);
    Vector z(d);
    for (Eigen::Index i = 0; i < d; ++i)
        z(i) = random.Normal();
    hyper.mean = postMean + llt.matrixU().solve(z);
    return hyper;
}

// out.col(u) = scale[u] * sum of y.col(j) over the items j that user u rated.
void ComputeImplicitPart(const Rows& byUser, const std::vector<double>& scale, const Matrix& y, Matrix& out) {
    out.setZero();
    for (Eigen::Index u = 0; u < out.cols(); ++u) {
        const std::size_t begin = byUser.start[static_cast<std::size_t>(u)];
        const std::size_t n = byUser.Count(static_cast<std::size_t>(u));
        for (std::size_t k = begin; k < begin + n; ++k)
            out.col(u) += y.col(byUser.index[k]);
        out.col(u) *= scale[static_cast<std::size_t>(u)];
    }
}

// Eigenvalues e and orthonormal eigenvectors (columns of q) of a small symmetric matrix, by cyclic Jacobi
// rotations: simple, deterministic and accurate at the sizes used here.
void SymmetricEigen(const Matrix& a, Matrix& q, Vector& e) {
    const Eigen::Index n = a.rows();
    Matrix m = a;
    q = Matrix::Identity(n, n);
    for (int sweep = 0; sweep < 60; ++sweep) {
        double off = 0.0;
        for (Eigen::Index i = 0; i < n; ++i)
            for (Eigen::Index j = i + 1; j < n; ++j)
                off += m(i, j) * m(i, j);
        if (off <= 1e-30 * std::max(1.0, m.diagonal().squaredNorm()))
            break;
        for (Eigen::Index p = 0; p < n; ++p) {
            for (Eigen::Index r = p + 1; r < n; ++r) {
                if (m(p, r) == 0.0)
                    continue;
                const double theta = (m(r, r) - m(p, p)) / (2.0 * m(p, r));
                const double t = (theta >= 0.0 ? 1.0 : -1.0) / (std::abs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                const double sn = t * c;
                for (Eigen::Index k = 0; k < n; ++k) {
                    const double mkp = m(k, p), mkr = m(k, r);
                    m(k, p) = c * mkp - sn * mkr;
                    m(k, r) = sn * mkp + c * mkr;
                }
                for (Eigen::Index k = 0; k < n; ++k) {
                    const double mpk = m(p, k), mrk = m(r, k);
                    m(p, k) = c * mpk - sn * mrk;
                    m(r, k) = sn * mpk + c * mrk;
                }
                for (Eigen::Index k = 0; k < n; ++k) {
                    const double qkp = q(k, p), qkr = q(k, r);
                    q(k, p) = c * qkp - sn * qkr;
                    q(k, r) = sn * qkp + c * qkr;
                }
            }
        }
    }
    e = m.diagonal();
}

// Small dense kernels for the per-row draws: at rank + 1 of about ten, plain loops of fixed length beat the
// general-purpose paths. Matrices are d x d arrays, a[i * d + k]; N is d when known at compile time, else 0.
template <int N> void CholeskyInPlace(double* a, int d) {
    const int n = N > 0 ? N : d;
    for (int j = 0; j < n; ++j) {
        double diagonal = a[j * n + j];
        for (int k = 0; k < j; ++k)
            diagonal -= a[j * n + k] * a[j * n + k];
        // The prior keeps the matrix well conditioned; the floor only guards against rounding.
        diagonal = std::sqrt(std::max(diagonal, 1e-12));
        a[j * n + j] = diagonal;
        const double inverse = 1.0 / diagonal;
        for (int i = j + 1; i < n; ++i) {
            double value = a[i * n + j];
            for (int k = 0; k < j; ++k)
                value -= a[i * n + k] * a[j * n + k];
            a[i * n + j] = value * inverse;
        }
    }
}

// Solves L y = b in place.
template <int N> void SolveLower(const double* l, int d, double* b) {
    const int n = N > 0 ? N : d;
    for (int i = 0; i < n; ++i) {
        double value = b[i];
        for (int k = 0; k < i; ++k)
            value -= l[i * n + k] * b[k];
        b[i] = value / l[i * n + i];
    }
}

// Solves L^T x = y in place.
template <int N> void SolveUpper(const double* l, int d, double* y) {
    const int n = N > 0 ? N : d;
    for (int i = n - 1; i >= 0; --i) {
        double value = y[i];
        for (int k = i + 1; k < n; ++k)
            value -= l[k * n + i] * y[k];
        y[i] = value / l[i * n + i];
    }
}

// Everything one side's Gibbs step reads and writes.
struct SideStep {
    const Rows& rows;
    const Matrix& other;
    Matrix& self;
    const Hyper& hyper;
    const Matrix* rowPriorMeans; // per-row prior means, or null for hyper.mean
    bool wantMean;
    double alpha;
    double mean;
    CRandom& random;
    Eigen::MatrixXf& design; // workspace: d x longest row
    Eigen::MatrixXf& gramBlock;
    bool draw = true; // false: every row takes its conditional mean (a ridge least-squares step)
};

// Draws every row's vector from its Gaussian conditional: precision = prior + alpha X X^T = L L^T, and the draw
// mean + L^-T z is computed as L^-T (L^-1 rhs + z), so that only the stored conditional means need a third solve.
// `store(row, conditionalMean)` sees every row. Returns the squared error of the drawn vectors. D is the dimension
// when known at compile time.
template <int D, class Store> double SampleRows(SideStep& step, Store&& store) {
    using Vec = Eigen::Matrix<double, D, 1>;
    using Mat = Eigen::Matrix<double, D, D>;
    using VecF = Eigen::Matrix<float, D, 1>;
    const Eigen::Index d = step.other.rows();
    const Mat prior = step.hyper.precision;
    Vec priorTerm = prior * step.hyper.mean;
    Mat gram(d, d), precision(d, d);
    Vec gathered(d), rhs(d), z(d), conditionalMean(d);
    double squaredError = 0.0;
    for (Eigen::Index row = 0; row < step.self.cols(); ++row) {
        const std::size_t begin = step.rows.start[static_cast<std::size_t>(row)];
        const auto n = static_cast<Eigen::Index>(step.rows.Count(static_cast<std::size_t>(row)));
        if (n == 0) {
            step.self.col(row) = step.hyper.mean;
            store(row, step.hyper.mean);
            continue;
        }
        if (step.rowPriorMeans) {
            const Vec rowMean = step.rowPriorMeans->col(row);
            priorTerm.noalias() = prior * rowMean;
        }
        // Gather the other side's vectors (bias replaced by 1) and the targets. The Gram matrix X X^T of long rows
        // is summed in single precision, which halves its cost and stays far below the noise of a draw.
        double targetSquares = 0.0;
        gathered.setZero();
        for (Eigen::Index j = 0; j < n; ++j) {
            const std::uint32_t o = step.rows.index[begin + static_cast<std::size_t>(j)];
            Eigen::Map<VecF> x(step.design.data() + j * d, d);
            x = step.other.col(o).template cast<float>();
            x(0) = 1.0f;
            const double t = step.rows.value[begin + static_cast<std::size_t>(j)] - step.mean - step.other(0, o);
            targetSquares += t * t;
            gathered.noalias() += t * x.template cast<double>();
        }
        if (n > 32) {
            step.gramBlock.setZero();
            step.gramBlock.selfadjointView<Eigen::Lower>().rankUpdate(step.design.leftCols(n));
            gram = step.gramBlock.template cast<double>();
            gram.template triangularView<Eigen::StrictlyUpper>() = gram.transpose();
        } else {
            gram.setZero();
            for (Eigen::Index j = 0; j < n; ++j) {
                const Vec x = Eigen::Map<const VecF>(step.design.data() + j * d, d).template cast<double>();
                gram.noalias() += x * x.transpose();
            }
        }
        constexpr int kFixed = D == Eigen::Dynamic ? 0 : D;
        const int dd = static_cast<int>(d);
        precision = prior + step.alpha * gram;
        CholeskyInPlace<kFixed>(precision.data(), dd);
        rhs = priorTerm + step.alpha * gathered;
        SolveLower<kFixed>(precision.data(), dd, rhs.data());
        for (Eigen::Index f = 0; f < d; ++f)
            z(f) = step.draw ? rhs(f) + step.random.Normal() : rhs(f);
        SolveUpper<kFixed>(precision.data(), dd, z.data());
        step.self.col(row) = z;
        if (step.wantMean) {
            conditionalMean = rhs;
            SolveUpper<kFixed>(precision.data(), dd, conditionalMean.data());
        }
        store(row, conditionalMean);
        // Squared error of the draw: sum t^2 - 2 z.Xt + z' X X^T z, without another pass over the row.
        const double quadratic = z.dot(gram * z);
        squaredError += std::max(0.0, targetSquares - 2.0 * z.dot(gathered) + quadratic);
    }
    return squaredError;
}

} // namespace

struct CRatingModel::Impl {
    ModelSettings settings;
    std::uint32_t numUsers = 0;
    std::uint32_t numItems = 0;
    float mean = 3.0f;

    // Bias baseline.
    std::vector<float> baseUserBias;
    std::vector<float> baseItemBias;

    // Averaged factorisation; width = factors * samples.
    std::uint32_t factors = 0;
    std::uint32_t samples = 0;
    std::vector<float> userBias;         // mean over samples
    std::vector<float> itemBias;         // mean over samples
    std::vector<float> userFactors;      // numUsers x width
    std::vector<float> itemFactors;      // numItems x width, already divided by the sample count
    std::vector<float> itemSampleBias;   // numItems x samples, for fold-in
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
    // Every trained user's ratings, sorted by item, as residuals of the core prediction: what the neighbour term
    // reads. User u's are [ratedStart[u], ratedStart[u + 1]).
    std::vector<std::uint64_t> ratedStart;
    std::vector<std::uint32_t> ratedItem;
    std::vector<float> ratedResidual;
    // A heavy rater's items as a bit per item, with the count of set bits before each word, so that the
    // neighbour term finds a neighbour among his ratings in constant time rather than by a search.
    struct ItemSet {
        std::vector<std::uint64_t> bits;
        std::vector<std::uint32_t> ranks;
    };
    struct RatedList {
        std::vector<std::uint32_t> items;
        std::vector<float> residuals;
        ItemSet set; // empty unless the user rated many items
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
        const std::uint32_t* items = nullptr; // rated items, sorted, with their residuals
        const float* residuals = nullptr;
        std::size_t count = 0;
        const ItemSet* set = nullptr; // for heavy raters
    };

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
    // Stores every user's residuals and finds each item's neighbours from them.
    void BuildNeighbours(std::span<const Rating> ratings);
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

    void TrainBaseline(std::span<const Rating> ratings);
    // Runs the sampler and keeps `sampleCount` samples. With `curve`, also records after each kept sample the RMSE
    // of the averaged model on `heldOut`. With `state`, a chain that holds a state of the same shape goes on from
    // it (no starting fit); the chain's last state is left there either way.
    void TrainFactorisation(std::span<const Rating> ratings, std::uint32_t sampleCount,
                            std::span<const Rating> heldOut = {}, std::vector<double>* curve = nullptr,
                            ChainState* state = nullptr);
    void SolveUser(UserRatings ratings, float& bias, float* factorsOut) const;
    float SolveBaseBias(UserRatings ratings) const;
};

void CRatingModel::Impl::TrainBaseline(std::span<const Rating> ratings) {
    baseUserBias.assign(numUsers, 0.0f);
    baseItemBias.assign(numItems, 0.0f);
    std::vector<double> acc;
    std::vector<std::uint32_t> cnt;
    for (int sweep = 0; sweep < settings.biasSweeps; ++sweep) {
        acc.assign(numItems, 0.0);
        cnt.assign(numItems, 0);
        for (const Rating& r : ratings) {
            acc[r.item] += r.value - mean - baseUserBias[r.user];
            ++cnt[r.item];
        }
        for (std::uint32_t i = 0; i < numItems; ++i)
            baseItemBias[i] = static_cast<float>(acc[i] / (cnt[i] + settings.biasRegItem));
        acc.assign(numUsers, 0.0);
        cnt.assign(numUsers, 0);
        for (const Rating& r : ratings) {
            acc[r.user] += r.value - mean - baseItemBias[r.item];
            ++cnt[r.user];
        }
        for (std::uint32_t u = 0; u < numUsers; ++u)
            baseUserBias[u] = static_cast<float>(acc[u] / (cnt[u] + settings.biasRegUser));
    }
}

void CRatingModel::Impl::TrainFactorisation(std::span<const Rating> ratings, std::uint32_t sampleCount,
                                            std::span<const Rating> heldOut, std::vector<double>* curve,
                                            ChainState* state) {
    factors = static_cast<std::uint32_t>(std::max(0, settings.factors));
    samples = sampleCount;
    if (ratings.empty() || factors == 0 || samples == 0) {
        factors = 0;
        samples = 0;
        return;
    }
    const Eigen::Index d = factors + 1;
    const std::size_t width = Width();
    const Rows byUser = GroupRatings(ratings, numUsers, true);
    const Rows byItem = GroupRatings(ratings, numItems, false);
    std::size_t longest = 0;
    for (std::uint32_t u = 0; u < numUsers; ++u)
        longest = std::max(longest, byUser.Count(u));
    for (std::uint32_t i = 0; i < numItems; ++i)
        longest = std::max(longest, byItem.Count(i));

    const bool warm = state && state->users.rows() == d && state->users.cols() == numUsers &&
                      state->items.cols() == numItems &&
                      state->implicitY.cols() == (settings.implicitFeedback ? numItems : 0);
    CRandom random(settings.seed + (warm ? 1 : 0));
    // Column c of users / items is (bias, factors) of user / item c. Start from the baseline biases and small
    // random factors.
    Matrix users(d, numUsers);
    Matrix items(d, numItems);
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        users(0, u) = baseUserBias[u];
        for (Eigen::Index f = 1; f < d; ++f)
            users(f, u) = 0.1 * random.Normal();
    }
    for (std::uint32_t i = 0; i < numItems; ++i) {
        items(0, i) = baseItemBias[i];
        for (Eigen::Index f = 1; f < d; ++f)
            items(f, i) = 0.1 * random.Normal();
    }

    userBias.assign(numUsers, 0.0f);
    itemBias.assign(numItems, 0.0f);
    userFactors.assign(std::size_t(numUsers) * width, 0.0f);
    itemFactors.assign(std::size_t(numItems) * width, 0.0f);
    itemSampleBias.assign(std::size_t(numItems) * samples, 0.0f);
    priorUserFactors.assign(width, 0.0f);
    priorUserBias = 0.0f;
    hyperMean.clear();
    hyperPrecision.clear();
    noisePrecision.clear();

    Eigen::MatrixXf design(d, static_cast<Eigen::Index>(longest));
    Eigen::MatrixXf gramBlock(d, d);
    double alpha = warm ? state->alpha : 2.0;
    const double invSamples = 1.0 / samples;

    // One side's step: every row's vector drawn from its Gaussian conditional given the other side. Returns the
    // squared error of the drawn vectors (used for the noise precision when called last in a sweep).
    bool drawing = true;
    auto sampleSide = [&](const Rows& rows, const Matrix& other, Matrix& self, const Hyper& hyper,
                          const Matrix* rowPriorMeans, bool wantMean, auto&& store) {
        SideStep step{rows, other, self, hyper, rowPriorMeans, wantMean, alpha, mean, random, design, gramBlock};
        step.draw = drawing;
        // The common ranks get loops of fixed length, which the compiler unrolls; any other rank works as well.
        switch (d) {
        case 6:
            return SampleRows<6>(step, store);
        case 11:
            return SampleRows<11>(step, store);
        case 21:
            return SampleRows<21>(step, store);
        default:
            return SampleRows<Eigen::Dynamic>(step, store);
        }
    };

    // Implicit feedback: which items a user rated says something about his taste even before the values do, most
    // of all for users with few ratings. Each item j has a vector y_j; a user's prior mean is the population mean
    // plus |N(u)|^-1/2 times the sum of y_j over his rated items N(u). The y_j have a Gaussian prior whose
    // precision has a Gamma hyperprior, and are drawn item by item given the users' vectors.
    const bool implicit = settings.implicitFeedback;
    Matrix implicitY = Matrix::Zero(d, implicit ? numItems : 0);
    Matrix implicitPart = Matrix::Zero(d, implicit ? numUsers : 0);
    Matrix residual, priorMeans;
    std::vector<double> userScale(implicit ? numUsers : 0, 0.0);
    for (std::size_t u = 0; u < userScale.size(); ++u)
        if (byUser.Count(u) > 0)
            userScale[u] = 1.0 / std::sqrt(static_cast<double>(byUser.Count(u)));
    double implicitPrecision = warm ? state->implicitPrecision : 1.0;
    implicitVectors.assign(implicit ? std::size_t(numItems) * samples * std::size_t(d) : 0, 0.0f);
    Vector implicitSum(d), implicitMean(d), implicitNew(d);
    // `residual` holds w_u - mean - sum_j f_uj y_j for every user; each y_j is drawn from its conditional given the
    // rest and the residuals of its raters are updated at once.
    auto sampleImplicit = [&](const Hyper& hyper) {
        // The conditional precision of y_j is c_j * Lambda + lambda_y * I with c_j = sum of f_uj^2; one
        // eigendecomposition Lambda = Q diag(e) Q^T per sweep makes every item's draw two small products.
        Matrix q;
        Vector e;
        SymmetricEigen(hyper.precision, q, e);
        double squares = 0.0;
        std::size_t drawn = 0;
        for (std::uint32_t j = 0; j < numItems; ++j) {
            const std::size_t begin = byItem.start[j];
            const std::size_t n = byItem.Count(j);
            if (n == 0)
                continue;
            double c = 0.0;
            implicitSum.setZero();
            for (std::size_t k = begin; k < begin + n; ++k) {
                const std::uint32_t u = byItem.index[k];
                const double f = userScale[u];
                c += f * f;
                implicitSum.noalias() += f * residual.col(u);
            }
            implicitSum.noalias() += c * implicitY.col(j);
            // mean = Q diag(e / (c e + lambda)) Q^T s; draw = mean + Q diag((c e + lambda)^-1/2) z
            implicitMean.noalias() = q.transpose() * implicitSum;
            for (Eigen::Index f = 0; f < d; ++f) {
                const double precision = c * e(f) + implicitPrecision;
                implicitMean(f) = implicitMean(f) * e(f) / precision + random.Normal() / std::sqrt(precision);
            }
            implicitNew.noalias() = q * implicitMean;
            implicitSum = implicitNew - implicitY.col(j); // the change, applied to the raters' residuals
            for (std::size_t k = begin; k < begin + n; ++k) {
                const std::uint32_t u = byItem.index[k];
                residual.col(u).noalias() -= userScale[u] * implicitSum;
            }
            implicitY.col(j) = implicitNew;
            squares += implicitNew.squaredNorm();
            ++drawn;
        }
        implicitPrecision =
            random.Gamma(1.0 + 0.5 * static_cast<double>(drawn * static_cast<std::size_t>(d))) / (1.0 + 0.5 * squares);
    };

    std::vector<double> sampleUserBias(curve ? numUsers : 0, 0.0);
    std::vector<double> heldOutSum(curve ? heldOut.size() : 0, 0.0);

    // Start the chain from a ridge least-squares fit (a few alternating sweeps) rather than from small random
    // factors: from there the sampler needs far fewer sweeps to settle, on sparse data (where the fit stays small)
    // as on dense data (where it does not).
    if (warm) {
        users = state->users;
        items = state->items;
        if (implicit) {
            implicitY = state->implicitY;
            ComputeImplicitPart(byUser, userScale, implicitY, implicitPart);
        }
    } else if (settings.initSweeps > 0) {
        Hyper ridge;
        ridge.mean = Vector::Zero(d);
        ridge.precision = Matrix::Identity(d, d) * settings.initRidge;
        const double savedAlpha = alpha;
        alpha = 1.0;
        drawing = false;
        for (int sweep = 0; sweep < settings.initSweeps; ++sweep) {
            sampleSide(byItem, users, items, ridge, nullptr, false, [](Eigen::Index, const auto&) {});
            sampleSide(byUser, items, users, ridge, nullptr, false, [](Eigen::Index, const auto&) {});
        }
        drawing = true;
        alpha = savedAlpha;
        if (implicit)
            implicitPart.setZero();
    }

    const int sweeps = burnIn + static_cast<int>(samples);
    for (int sweep = 0; sweep < sweeps; ++sweep) {
        const int s = sweep - burnIn;
        const bool keep = s >= 0;
        const Hyper itemHyper = SampleHyper(items, byItem, random);
        sampleSide(byItem, users, items, itemHyper, nullptr, false, [](Eigen::Index, const auto&) {});
        const Matrix* userPriorMeans = nullptr;
        Hyper userHyper;
        if (implicit) {
            // Users' vectors less their implicit part give the hyperparameters; the implicit vectors are then
            // drawn given those, and each user's prior mean follows from the items he rated.
            residual = users - implicitPart;
            userHyper = SampleHyper(residual, byUser, random);
            residual.colwise() -= userHyper.mean;
            sampleImplicit(userHyper);
            ComputeImplicitPart(byUser, userScale, implicitY, implicitPart);
            priorMeans = implicitPart.colwise() + userHyper.mean;
            userPriorMeans = &priorMeans;
        } else {
            userHyper = SampleHyper(users, byUser, random);
        }
        const double usedAlpha = alpha;
        double squaredError = 0.0;
        if (keep) {
            // Items keep this sweep's draw; users keep their conditional mean given it, which fold-in reproduces.
            for (std::uint32_t i = 0; i < numItems; ++i) {
                float* row = &itemFactors[std::size_t(i) * width + std::size_t(s) * factors];
                for (std::uint32_t f = 0; f < factors; ++f)
                    row[f] = static_cast<float>(items(f + 1, i) * invSamples);
                itemSampleBias[std::size_t(i) * samples + std::size_t(s)] = static_cast<float>(items(0, i));
                itemBias[i] += static_cast<float>(items(0, i) * invSamples);
            }
            if (implicit) {
                for (std::uint32_t i = 0; i < numItems; ++i)
                    for (Eigen::Index f = 0; f < d; ++f)
                        implicitVectors[(std::size_t(i) * samples + std::size_t(s)) * std::size_t(d) +
                                        static_cast<std::size_t>(f)] = static_cast<float>(implicitY(f, i));
            }
            squaredError =
                sampleSide(byUser, items, users, userHyper, userPriorMeans, true, [&](Eigen::Index u, const auto& m) {
                    float* row = &userFactors[std::size_t(u) * width + std::size_t(s) * factors];
                    for (std::uint32_t f = 0; f < factors; ++f)
                        row[f] = static_cast<float>(m(f + 1));
                    userBias[static_cast<std::size_t>(u)] += static_cast<float>(m(0) * invSamples);
                    if (curve)
                        sampleUserBias[static_cast<std::size_t>(u)] = m(0);
                });
            if (curve) {
                double se = 0.0;
                for (std::size_t j = 0; j < heldOut.size(); ++j) {
                    const Rating& r = heldOut[j];
                    const float* row = &userFactors[std::size_t(r.user) * width + std::size_t(s) * factors];
                    double p = mean + sampleUserBias[r.user] + items(0, r.item);
                    for (std::uint32_t f = 0; f < factors; ++f)
                        p += row[f] * items(f + 1, r.item);
                    heldOutSum[j] += p;
                    const double e = std::clamp(heldOutSum[j] / (s + 1), 1.0, 5.0) - r.value;
                    se += e * e;
                }
                curve->push_back(std::sqrt(se / static_cast<double>(std::max<std::size_t>(1, heldOut.size()))));
            }
            for (std::uint32_t f = 0; f < factors; ++f)
                priorUserFactors[std::size_t(s) * factors + f] = static_cast<float>(userHyper.mean(f + 1));
            priorUserBias += static_cast<float>(userHyper.mean(0) * invSamples);
            hyperMean.push_back(userHyper.mean);
            hyperPrecision.push_back(userHyper.precision);
            noisePrecision.push_back(usedAlpha);
        } else {
            squaredError =
                sampleSide(byUser, items, users, userHyper, userPriorMeans, false, [](Eigen::Index, const auto&) {});
        }
        // Noise precision ~ Gamma(1 + N/2, rate 1 + SSE/2).
        alpha = random.Gamma(1.0 + 0.5 * static_cast<double>(ratings.size())) / (1.0 + 0.5 * squaredError);
    }
    if (state) {
        state->users = std::move(users);
        state->items = std::move(items);
        state->implicitY = std::move(implicitY);
        state->alpha = alpha;
        state->implicitPrecision = implicitPrecision;
    }
}

// The user's conditional mean given each sample's item vectors: the same computation as the training's user step.
void CRatingModel::Impl::SolveUser(UserRatings ratings, float& bias, float* factorsOut) const {
    const Eigen::Index d = factors + 1;
    const std::size_t width = Width();
    std::vector<std::pair<std::uint32_t, float>> known;
    known.reserve(ratings.size());
    for (const auto& entry : ratings)
        if (entry.first < numItems)
            known.push_back(entry);
    const auto n = static_cast<Eigen::Index>(known.size());
    Matrix design(d, n);
    Vector target(n);
    double biasSum = 0.0;
    for (std::uint32_t s = 0; s < samples; ++s) {
        for (Eigen::Index j = 0; j < n; ++j) {
            const std::uint32_t item = known[static_cast<std::size_t>(j)].first;
            const float* row = &itemFactors[std::size_t(item) * width + std::size_t(s) * factors];
            design(0, j) = 1.0;
            for (std::uint32_t f = 0; f < factors; ++f)
                design(f + 1, j) = static_cast<double>(row[f]) * samples;
            const double itemB = itemSampleBias[std::size_t(item) * samples + s];
            target(j) = known[static_cast<std::size_t>(j)].second - mean - itemB;
        }
        const Matrix& prior = hyperPrecision[s];
        Matrix precision = prior;
        precision.selfadjointView<Eigen::Lower>().rankUpdate(design, noisePrecision[s]);
        Vector priorMean = hyperMean[s];
        if (HasImplicit() && n > 0) {
            const double scale = 1.0 / std::sqrt(static_cast<double>(n));
            for (Eigen::Index j = 0; j < n; ++j) {
                const float* y =
                    &implicitVectors[(std::size_t(known[static_cast<std::size_t>(j)].first) * samples + s) *
                                     std::size_t(d)];
                for (Eigen::Index f = 0; f < d; ++f)
                    priorMean(f) += scale * y[f];
            }
        }
        Vector rhs = prior * priorMean;
        rhs.noalias() += noisePrecision[s] * (design * target);
        const Vector m = Eigen::LLT<Matrix>(precision).solve(rhs);
        for (std::uint32_t f = 0; f < factors; ++f)
            factorsOut[std::size_t(s) * factors + f] = static_cast<float>(m(f + 1));
        biasSum += m(0);
    }
    bias = static_cast<float>(biasSum / samples);
}

float CRatingModel::Impl::SolveBaseBias(UserRatings ratings) const {
    double acc = 0.0;
    std::size_t count = 0;
    for (const auto& [item, value] : ratings) {
        if (item >= numItems)
            continue;
        acc += value - mean - baseItemBias[item];
        ++count;
    }
    return static_cast<float>(acc / (static_cast<double>(count) + settings.biasRegUser));
}

CRatingModel::Impl::UserView CRatingModel::Impl::View(std::uint32_t user) const {
    UserView view;
    if (HasFactors()) {
        view.row = priorUserFactors.data();
        view.bias = priorUserBias;
    }
    if (user < numUsers) {
        view.baseBias = baseUserBias[user];
        if (HasFactors()) {
            view.row = &userFactors[std::size_t(user) * Width()];
            view.bias = userBias[user];
        }
        if (HasNeighbours()) {
            if (auto it = foldedRated.find(user); it != foldedRated.end()) {
                view.items = it->second.items.data();
                view.residuals = it->second.residuals.data();
                view.count = it->second.items.size();
                view.set = it->second.set.bits.empty() ? nullptr : &it->second.set;
            } else {
                view.items = ratedItem.data() + ratedStart[user];
                view.residuals = ratedResidual.data() + ratedStart[user];
                view.count = static_cast<std::size_t>(ratedStart[user + 1] - ratedStart[user]);
                view.set = heavyOf[user] == kNoSet ? nullptr : &heavySets[heavyOf[user]];
            }
        }
    } else if (auto it = extraUsers.find(user); it != extraUsers.end()) {
        view.baseBias = it->second.baseBias;
        if (HasFactors()) {
            view.row = it->second.factors.data();
            view.bias = it->second.bias;
        }
        view.items = it->second.rated.items.data();
        view.residuals = it->second.rated.residuals.data();
        view.count = it->second.rated.items.size();
        view.set = it->second.rated.set.bits.empty() ? nullptr : &it->second.rated.set;
    }
    return view;
}

double CRatingModel::Impl::Core(const UserView& user, std::uint32_t item) const {
    if (!HasFactors())
        return double(mean) + user.baseBias + baseItemBias[item];
    const auto width = static_cast<Eigen::Index>(Width());
    const Eigen::Map<const Eigen::VectorXf> u(user.row, width);
    const Eigen::Map<const Eigen::VectorXf> v(&itemFactors[std::size_t(item) * Width()], width);
    return double(mean) + user.bias + itemBias[item] + u.dot(v);
}

double CRatingModel::Impl::NeighbourTerm(const UserView& user, std::uint32_t item) const {
    if (!HasNeighbours() || user.count == 0)
        return 0.0;
    const std::uint32_t* first = neighbourIndex.data() + neighbourStart[item];
    const std::uint32_t* last = neighbourIndex.data() + neighbourStart[item + 1];
    const float* weights = neighbourWeight.data() + neighbourStart[item];
    double weighted = 0.0, total = 0.0;
    if (user.set) {
        const std::uint64_t* bits = user.set->bits.data();
        const std::uint32_t* ranks = user.set->ranks.data();
        for (const std::uint32_t* n = first; n != last; ++n) {
            const std::uint64_t word = bits[*n >> 6];
            const std::uint64_t below = (std::uint64_t(1) << (*n & 63)) - 1;
            if ((word >> (*n & 63)) & 1) {
                const double w = weights[n - first];
                weighted += w * user.residuals[ranks[*n >> 6] + std::popcount(word & below)];
                total += w;
            }
        }
        return weighted / (total + settings.neighbourDamping);
    }
    // Both lists are sorted: walk the shorter one and search the other from where the last search ended.
    if (user.count <= static_cast<std::size_t>(last - first)) {
        const std::uint32_t* at = first;
        for (std::size_t k = 0; k < user.count && at != last; ++k) {
            at = std::lower_bound(at, last, user.items[k]);
            if (at != last && *at == user.items[k]) {
                const double w = weights[at - first];
                weighted += w * user.residuals[k];
                total += w;
            }
        }
    } else {
        const std::uint32_t* begin = user.items;
        const std::uint32_t* end = user.items + user.count;
        for (const std::uint32_t* n = first; n != last && begin != end; ++n) {
            begin = std::lower_bound(begin, end, *n);
            if (begin != end && *begin == *n) {
                const double w = weights[n - first];
                weighted += w * user.residuals[begin - user.items];
                total += w;
            }
        }
    }
    return weighted / (total + settings.neighbourDamping);
}

CRatingModel::Impl::RatedList CRatingModel::Impl::MakeRatedList(std::uint32_t user, UserRatings ratings) const {
    std::vector<std::pair<std::uint32_t, float>> sorted;
    sorted.reserve(ratings.size());
    for (const auto& entry : ratings)
        if (entry.first < numItems)
            sorted.push_back(entry);
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // An item rated twice counts once (the first), so that a rank among the items is a position in the list.
    sorted.erase(
        std::unique(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
        sorted.end());
    UserView view = View(user);
    RatedList list;
    list.items.reserve(sorted.size());
    list.residuals.reserve(sorted.size());
    for (const auto& [item, value] : sorted) {
        list.items.push_back(item);
        list.residuals.push_back(static_cast<float>(value - Core(view, item)));
    }
    if (IsHeavy(list.items.size()))
        list.set = MakeItemSet(list.items.data(), list.items.size());
    return list;
}

CRatingModel::Impl::ItemSet CRatingModel::Impl::MakeItemSet(const std::uint32_t* items, std::size_t count) const {
    ItemSet set;
    const std::size_t words = (std::size_t(numItems) + 63) / 64;
    set.bits.assign(words, 0);
    set.ranks.assign(words, 0);
    for (std::size_t k = 0; k < count; ++k)
        set.bits[items[k] >> 6] |= std::uint64_t(1) << (items[k] & 63);
    std::uint32_t before = 0;
    for (std::size_t w = 0; w < words; ++w) {
        set.ranks[w] = before;
        before += static_cast<std::uint32_t>(std::popcount(set.bits[w]));
    }
    return set;
}

void CRatingModel::Impl::IndexHeavyUsers() {
    heavyOf.assign(numUsers, kNoSet);
    heavySets.clear();
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        const auto count = static_cast<std::size_t>(ratedStart[u + 1] - ratedStart[u]);
        if (!IsHeavy(count))
            continue;
        heavyOf[u] = static_cast<std::uint32_t>(heavySets.size());
        heavySets.push_back(MakeItemSet(ratedItem.data() + ratedStart[u], count));
    }
}

void CRatingModel::Impl::BuildNeighbours(std::span<const Rating> ratings) {
    // Residuals per user, sorted by item.
    const Rows byUser = GroupRatings(ratings, numUsers, true);
    ratedStart.assign(byUser.start.begin(), byUser.start.end());
    ratedItem.resize(ratings.size());
    ratedResidual.resize(ratings.size());
    neighbourStart.clear(); // View() must not read the lists while they are built
    std::vector<std::pair<std::uint32_t, float>> row;
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        const std::size_t begin = byUser.start[u];
        row.clear();
        for (std::size_t k = begin; k < byUser.start[u + 1]; ++k)
            row.emplace_back(byUser.index[k], byUser.value[k]);
        std::stable_sort(row.begin(), row.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        const UserView view = View(u);
        for (std::size_t k = 0; k < row.size(); ++k) {
            ratedItem[begin + k] = row[k].first;
            ratedResidual[begin + k] = static_cast<float>(row[k].second - Core(view, row[k].first));
        }
    }
    // The raters of each item with their residuals.
    std::vector<std::size_t> itemStart(std::size_t(numItems) + 1, 0);
    for (const std::uint32_t item : ratedItem)
        ++itemStart[item + 1];
    for (std::size_t i = 0; i < numItems; ++i)
        itemStart[i + 1] += itemStart[i];
    std::vector<std::size_t> fill(itemStart.begin(), itemStart.end() - 1);
    std::vector<std::uint32_t> raterUser(ratings.size());
    std::vector<float> raterResidual(ratings.size());
    for (std::uint32_t u = 0; u < numUsers; ++u)
        for (std::size_t k = ratedStart[u]; k < ratedStart[u + 1]; ++k) {
            const std::size_t at = fill[ratedItem[k]]++;
            raterUser[at] = u;
            raterResidual[at] = ratedResidual[k];
        }

    // Each item's similarity to every item sharing a rater: the cosine of the residuals over the co-raters,
    // shrunk by c / (c + shrink) for c co-raters so that few shared ratings count for little. Every pair is
    // summed once, from the item with the lower index (the raters' lists are sorted, so only the part after it
    // is read), and offered to both items' candidates; a candidate list is cut back to the strongest whenever it
    // grows long, which keeps memory in proportion to the items, not the pairs.
    std::vector<float> sumXy(numItems, 0.0f), sumXx(numItems, 0.0f), sumYy(numItems, 0.0f);
    std::vector<std::uint32_t> count(numItems, 0);
    std::vector<std::uint32_t> touched;
    using Candidate = std::pair<float, std::uint32_t>;
    std::vector<std::vector<Candidate>> candidates(numItems);
    const auto keep = static_cast<std::size_t>(std::max(0, settings.neighbours));
    const std::size_t cutAt = 4 * keep + 64;
    const auto stronger = [](const Candidate& a, const Candidate& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    };
    const auto cut = [&](std::vector<Candidate>& list) {
        if (list.size() <= keep)
            return;
        std::nth_element(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(keep), list.end(), stronger);
        list.resize(keep);
    };
    for (std::uint32_t i = 0; i < numItems; ++i) {
        touched.clear();
        for (std::size_t r = itemStart[i]; r < itemStart[i + 1]; ++r) {
            const std::uint32_t u = raterUser[r];
            const float x = raterResidual[r];
            const std::uint32_t* first = ratedItem.data() + ratedStart[u];
            const std::uint32_t* last = ratedItem.data() + ratedStart[u + 1];
            for (const std::uint32_t* at = std::upper_bound(first, last, i); at != last; ++at) {
                const std::uint32_t j = *at;
                if (count[j] == 0)
                    touched.push_back(j);
                const float y = ratedResidual[static_cast<std::size_t>(at - ratedItem.data())];
                sumXy[j] += x * y;
                sumXx[j] += x * x;
                sumYy[j] += y * y;
                ++count[j];
            }
        }
        for (const std::uint32_t j : touched) {
            const double xy = sumXy[j], xx = sumXx[j], yy = sumYy[j];
            if (xy > 0.0 && xx > 0.0 && yy > 0.0) {
                const double c = count[j];
                const auto similarity =
                    static_cast<float>(xy / std::sqrt(xx * yy) * c / (c + settings.neighbourShrink));
                candidates[i].emplace_back(similarity, j);
                candidates[j].emplace_back(similarity, i);
                if (candidates[j].size() > cutAt)
                    cut(candidates[j]);
            }
            sumXy[j] = sumXx[j] = sumYy[j] = 0.0f;
            count[j] = 0;
        }
        if (candidates[i].size() > cutAt)
            cut(candidates[i]);
    }
    std::vector<std::uint64_t> start(std::size_t(numItems) + 1, 0);
    std::vector<std::uint32_t> index;
    std::vector<float> weight;
    for (std::uint32_t i = 0; i < numItems; ++i) {
        std::vector<Candidate>& list = candidates[i];
        cut(list);
        std::sort(list.begin(), list.end(), [](const Candidate& a, const Candidate& b) { return a.second < b.second; });
        for (const auto& [similarity, j] : list) {
            index.push_back(j);
            weight.push_back(similarity);
        }
        start[i + 1] = index.size();
        std::vector<Candidate>().swap(list);
    }
    neighbourStart = std::move(start);
    neighbourIndex = std::move(index);
    neighbourWeight = std::move(weight);
    IndexHeavyUsers();
}

CRatingModel::CRatingModel(ModelSettings settings) : m_impl(std::make_unique<Impl>()) {
    m_impl->settings = std::move(settings);
}

CRatingModel::~CRatingModel() = default;
CRatingModel::CRatingModel(CRatingModel&&) noexcept = default;
CRatingModel& CRatingModel::operator=(CRatingModel&&) noexcept = default;

const ModelSettings& CRatingModel::Settings() const {
    return m_impl->settings;
}

void CRatingModel::Train(std::span<const Rating> ratings, std::uint32_t numUsers, std::uint32_t numItems) {
    for (const Rating& r : ratings)
        if (r.user >= numUsers || r.item >= numItems || !std::isfinite(r.value))
            throw std::invalid_argument("rating outside the trained range");
    Impl fresh;
    fresh.settings = m_impl->settings;
    fresh.numUsers = numUsers;
    fresh.numItems = numItems;
    double sum = 0.0;
    for (const Rating& r : ratings)
        sum += r.value;
    fresh.mean = ratings.empty() ? 3.0f : static_cast<float>(sum / static_cast<double>(ratings.size()));
    fresh.TrainBaseline(ratings);

    // Whether the factorisation earns its place at all is decided on a held-out tenth of the ratings: a short chain
    // on the rest (a few samples, which only understates the full model) is compared with the baseline fitted on
    // the same part. Where it is no better, as can happen on very sparse data, the baseline is the model.
    const ModelSettings& settings = fresh.settings;
    std::uint32_t sampleCount = static_cast<std::uint32_t>(std::max(0, settings.samples));
    fresh.burnIn = std::max(0, settings.burnIn);
    const bool validating = settings.validate && settings.factors > 0 && sampleCount > 0 && ratings.size() >= 1000 &&
                            ratings.size() <= settings.validationLimit;
    // Where the held-out check runs, the final chain goes on from where the check's chain stopped: that has settled
    // on nine tenths of these ratings, so a short burn-in replaces the starting fit and most of the usual one.
    if (validating)
        fresh.burnIn = std::min(fresh.burnIn, kWarmBurnIn);
    // A sweep costs about one unit per rating and sixteen per user or item with ratings (its own small solve).
    // Where the whole chain would exceed the budget, burn-in and samples shrink in proportion (not below 6 and 12):
    // small dense data gets every sample it asks for, large data, whose posterior is narrow, fewer.
    if (settings.workBudget > 0 && sampleCount > 0) {
        std::vector<char> userSeen(numUsers, 0), itemSeen(numItems, 0);
        std::size_t rows = 0;
        for (const Rating& r : ratings) {
            rows += !userSeen[r.user] + !itemSeen[r.item];
            userSeen[r.user] = itemSeen[r.item] = 1;
        }
        const double perSweep = static_cast<double>(ratings.size()) + 16.0 * static_cast<double>(rows);
        const double work = perSweep * (fresh.burnIn + sampleCount);
        if (work > static_cast<double>(settings.workBudget)) {
            const double scale = static_cast<double>(settings.workBudget) / work;
            fresh.burnIn = std::min(fresh.burnIn, std::max(6, static_cast<int>(std::lround(fresh.burnIn * scale))));
            sampleCount =
                std::min(sampleCount, std::max(12u, static_cast<std::uint32_t>(std::lround(sampleCount * scale))));
        }
    }
    double neighbourBlend = 0.0;
    Impl::ChainState chain;
    if (validating) {
        std::vector<Rating> trainPart, heldOut;
        std::uint64_t state = settings.seed ^ 0x5eed5eedull;
        for (const Rating& r : ratings)
            (SplitMix(state) % 10 == 0 ? heldOut : trainPart).push_back(r);
        Impl probe;
        probe.settings = settings;
        probe.burnIn = std::clamp(settings.burnIn, 0, kCheckBurnIn);
        probe.numUsers = numUsers;
        probe.numItems = numItems;
        double partSum = 0.0;
        for (const Rating& r : trainPart)
            partSum += r.value;
        probe.mean = static_cast<float>(partSum / static_cast<double>(trainPart.size()));
        probe.TrainBaseline(trainPart);
        std::vector<double> curve;
        probe.TrainFactorisation(trainPart, std::min(sampleCount, kCheckSamples), heldOut, &curve, &chain);
        double baseSe = 0.0;
        for (const Rating& r : heldOut) {
            const double e =
                Clamp(double(probe.mean) + probe.baseUserBias[r.user] + probe.baseItemBias[r.item]) - r.value;
            baseSe += e * e;
        }
        fresh.validationRmse = curve.back();
        fresh.validationBaselineRmse = std::sqrt(baseSe / static_cast<double>(heldOut.size()));
        if (fresh.validationRmse >= fresh.validationBaselineRmse) {
            sampleCount = 0;
            probe.factors = 0; // the neighbourhood below then refines the baseline
            probe.samples = 0;
        }

        // The neighbour term's weight: least squares of the core model's held-out errors on the term, kept only
        // where it lowers the held-out error. On data too sparse for neighbours to tell anything, the damping
        // keeps the term small and the fit or the check leaves the core model alone.
        std::vector<std::size_t> perUser(numUsers, 0);
        for (const Rating& r : ratings)
            ++perUser[r.user];
        std::size_t pairWork = 0;
        for (const std::size_t n : perUser)
            pairWork += n * n;
        if (settings.neighbours > 0 && pairWork <= settings.neighbourLimit) {
            probe.BuildNeighbours(trainPart);
            std::vector<double> core(heldOut.size()), term(heldOut.size());
            double errorTerm = 0.0, termTerm = 0.0;
            for (std::size_t j = 0; j < heldOut.size(); ++j) {
                const Rating& r = heldOut[j];
                const Impl::UserView view = probe.View(r.user);
                core[j] = probe.Core(view, r.item);
                term[j] = probe.NeighbourTerm(view, r.item);
                errorTerm += (r.value - core[j]) * term[j];
                termTerm += term[j] * term[j];
            }
            const double blend = termTerm > 0.0 ? std::clamp(errorTerm / termTerm, 0.0, 2.0) : 0.0;
            double coreSe = 0.0, blendSe = 0.0;
            for (std::size_t j = 0; j < heldOut.size(); ++j) {
                const double e0 = Clamp(core[j]) - heldOut[j].value;
                const double e1 = Clamp(core[j] + blend * term[j]) - heldOut[j].value;
                coreSe += e0 * e0;
                blendSe += e1 * e1;
            }
            if (blendSe < coreSe) {
                neighbourBlend = blend;
                fresh.blendRmse = std::sqrt(blendSe / static_cast<double>(heldOut.size()));
            }
        }
    }
    fresh.TrainFactorisation(ratings, sampleCount, {}, nullptr, &chain);
    if (neighbourBlend > 0.0) {
        fresh.BuildNeighbours(ratings);
        fresh.neighbourBlend = static_cast<float>(neighbourBlend);
    }
    *m_impl = std::move(fresh);
}

std::string CRatingModel::Summary() const {
    const Impl& m = *m_impl;
    char text[256];
    if (m.validationRmse > 0.0 && m.HasNeighbours())
        std::snprintf(text, sizeof text,
                      "%u users, %u items, rank %u, %d + %u sweeps (held-out RMSE %.4f, baseline %.4f), neighbours "
                      "x %.3f (held-out RMSE %.4f)",
                      m.numUsers, m.numItems, m.factors, m.burnIn, m.samples, m.validationRmse,
                      m.validationBaselineRmse, double(m.neighbourBlend), m.blendRmse);
    else if (m.validationRmse > 0.0)
        std::snprintf(text, sizeof text,
                      "%u users, %u items, rank %u, %d + %u sweeps (held-out RMSE %.4f, baseline %.4f)", m.numUsers,
                      m.numItems, m.factors, m.burnIn, m.samples, m.validationRmse, m.validationBaselineRmse);
    else
        std::snprintf(text, sizeof text, "%u users, %u items, rank %u, %d + %u sweeps", m.numUsers, m.numItems,
                      m.factors, m.burnIn, m.samples);
    return text;
}

double CRatingModel::PredictBaseline(std::uint32_t user, std::uint32_t item) const {
    const Impl& m = *m_impl;
    if (item >= m.numItems)
        return Clamp(m.mean);
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
    if (!m.HasFactors() && !m.HasNeighbours())
        return PredictBaseline(user, item);
    if (item >= m.numItems)
        return Clamp(m.mean);
    const Impl::UserView view = m.View(user);
    double prediction = m.Core(view, item);
    if (view.count > 0)
        prediction += m.neighbourBlend * m.NeighbourTerm(view, item);
    return Clamp(prediction);
}

void CRatingModel::FoldInUser(std::uint32_t user, UserRatings ratings) {
    Impl& m = *m_impl;
    const float baseBias = m.SolveBaseBias(ratings);
    if (user < m.numUsers) {
        m.baseUserBias[user] = baseBias;
        if (m.HasFactors())
            m.SolveUser(ratings, m.userBias[user], &m.userFactors[std::size_t(user) * m.Width()]);
        if (m.HasNeighbours())
            m.foldedRated[user] = m.MakeRatedList(user, ratings);
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
    if (m.HasNeighbours())
        stored.rated = m.MakeRatedList(user, ratings);
}

namespace {

class CWriter {
public:
    void Put(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        m_buffer.insert(m_buffer.end(), bytes, bytes + size);
    }
    template <class T> void PutValue(const T& value) { Put(&value, sizeof value); }
    template <class T> void PutVector(const std::vector<T>& values) { Put(values.data(), values.size() * sizeof(T)); }
    std::vector<unsigned char>& Buffer() { return m_buffer; }

private:
    std::vector<unsigned char> m_buffer;
};

class CReader {
public:
    CReader(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Get(void* out, std::size_t size) {
        if (m_size - m_pos < size)
            return false;
        std::memcpy(out, m_data + m_pos, size);
        m_pos += size;
        return true;
    }
    template <class T> bool GetValue(T& value) { return Get(&value, sizeof value); }
    template <class T> bool GetVector(std::vector<T>& values, std::size_t count) {
        if ((m_size - m_pos) / sizeof(T) < count)
            return false;
        values.resize(count);
        return Get(values.data(), count * sizeof(T));
    }
    std::size_t Left() const { return m_size - m_pos; }

private:
    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

void WriteWholeFile(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::filesystem::path tmp = path;
    tmp += ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot create " + tmp.string() + ": " + std::strerror(errno));
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            std::filesystem::remove(tmp);
            throw std::runtime_error("cannot write " + tmp.string() + ": " + std::strerror(error));
        }
        written += static_cast<std::size_t>(n);
    }
    // The data must be on disk before the rename makes it the cache, or a power cut could leave a renamed but
    // empty file.
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        std::filesystem::remove(tmp);
        throw std::runtime_error("cannot write " + tmp.string() + ": " + std::strerror(error));
    }
    ::close(fd);
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        std::filesystem::remove(tmp);
        throw std::runtime_error("cannot replace " + path.string() + ": " + std::strerror(error));
    }
    // Make the rename itself durable.
    std::filesystem::path folder = path.parent_path();
    if (folder.empty())
        folder = ".";
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

bool ReadWholeFile(const std::filesystem::path& path, std::vector<unsigned char>& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return got == bytes.size();
}

} // namespace

void CRatingModel::Save(const std::filesystem::path& path, std::string_view fingerprint) const {
    const Impl& m = *m_impl;
    CWriter out;
    out.Put(kMagic, sizeof kMagic);
    out.PutValue(kFormatVersion);
    out.PutValue(static_cast<std::uint64_t>(fingerprint.size()));
    out.Put(fingerprint.data(), fingerprint.size());
    out.PutValue(m.numUsers);
    out.PutValue(m.numItems);
    out.PutValue(m.factors);
    out.PutValue(m.samples);
    out.PutValue(m.mean);
    out.PutVector(m.baseUserBias);
    out.PutVector(m.baseItemBias);
    if (m.HasFactors()) {
        out.PutVector(m.userBias);
        out.PutVector(m.itemBias);
        out.PutVector(m.userFactors);
        out.PutVector(m.itemFactors);
        out.PutVector(m.itemSampleBias);
        out.PutVector(m.priorUserFactors);
        out.PutValue(m.priorUserBias);
        for (std::uint32_t s = 0; s < m.samples; ++s) {
            out.Put(m.hyperMean[s].data(), static_cast<std::size_t>(m.hyperMean[s].size()) * sizeof(double));
            out.Put(m.hyperPrecision[s].data(), static_cast<std::size_t>(m.hyperPrecision[s].size()) * sizeof(double));
            out.PutValue(m.noisePrecision[s]);
        }
        out.PutValue(static_cast<std::uint8_t>(m.HasImplicit() ? 1 : 0));
        out.PutVector(m.implicitVectors);
    }
    out.PutValue(static_cast<std::uint8_t>(m.HasNeighbours() ? 1 : 0));
    if (m.HasNeighbours()) {
        out.PutValue(m.neighbourBlend);
        out.PutVector(m.neighbourStart);
        out.PutVector(m.neighbourIndex);
        out.PutVector(m.neighbourWeight);
        out.PutVector(m.ratedStart);
        out.PutVector(m.ratedItem);
        out.PutVector(m.ratedResidual);
    }
    const std::uint64_t sum = Fnv1a(out.Buffer().data(), out.Buffer().size());
    out.PutValue(sum);
    WriteWholeFile(path, out.Buffer());
}

bool CRatingModel::Load(const std::filesystem::path& path, std::string_view fingerprint) {
    std::vector<unsigned char> bytes;
    if (!ReadWholeFile(path, bytes) || bytes.size() < sizeof kMagic + sizeof(std::uint64_t))
        return false;
    std::uint64_t stored = 0;
    const std::size_t body = bytes.size() - sizeof stored;
    std::memcpy(&stored, bytes.data() + body, sizeof stored);
    if (Fnv1a(bytes.data(), body) != stored)
        return false;

    CReader in(bytes.data(), body);
    char magic[sizeof kMagic];
    std::uint32_t version = 0;
    std::uint64_t fingerprintSize = 0;
    if (!in.Get(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0 || !in.GetValue(version) ||
        version != kFormatVersion || !in.GetValue(fingerprintSize) || fingerprintSize != fingerprint.size())
        return false;
    std::string savedFingerprint(fingerprint.size(), '\0');
    if (!in.Get(savedFingerprint.data(), savedFingerprint.size()) || savedFingerprint != fingerprint)
        return false;

    Impl loaded;
    loaded.settings = m_impl->settings;
    if (!in.GetValue(loaded.numUsers) || !in.GetValue(loaded.numItems) || !in.GetValue(loaded.factors) ||
        !in.GetValue(loaded.samples) || !in.GetValue(loaded.mean) ||
        !in.GetVector(loaded.baseUserBias, loaded.numUsers) || !in.GetVector(loaded.baseItemBias, loaded.numItems))
        return false;
    if (loaded.HasFactors()) {
        const std::size_t width = loaded.Width();
        const Eigen::Index d = loaded.factors + 1;
        // Guard the multiplications below against sizes no real file has.
        if (width > (std::size_t(1) << 24) || in.Left() / width / sizeof(float) < loaded.numUsers)
            return false;
        if (!in.GetVector(loaded.userBias, loaded.numUsers) || !in.GetVector(loaded.itemBias, loaded.numItems) ||
            !in.GetVector(loaded.userFactors, std::size_t(loaded.numUsers) * width) ||
            !in.GetVector(loaded.itemFactors, std::size_t(loaded.numItems) * width) ||
            !in.GetVector(loaded.itemSampleBias, std::size_t(loaded.numItems) * loaded.samples) ||
            !in.GetVector(loaded.priorUserFactors, width) || !in.GetValue(loaded.priorUserBias))
            return false;
        for (std::uint32_t s = 0; s < loaded.samples; ++s) {
            Vector mean(d);
            Matrix precision(d, d);
            double noise = 0.0;
            if (!in.Get(mean.data(), static_cast<std::size_t>(d) * sizeof(double)) ||
                !in.Get(precision.data(), static_cast<std::size_t>(d * d) * sizeof(double)) || !in.GetValue(noise))
                return false;
            loaded.hyperMean.push_back(std::move(mean));
            loaded.hyperPrecision.push_back(std::move(precision));
            loaded.noisePrecision.push_back(noise);
        }
        std::uint8_t implicit = 0;
        if (!in.GetValue(implicit) || implicit > 1 ||
            (implicit && !in.GetVector(loaded.implicitVectors,
                                       std::size_t(loaded.numItems) * loaded.samples * static_cast<std::size_t>(d))))
            return false;
    }
    std::uint8_t neighbours = 0;
    if (!in.GetValue(neighbours) || neighbours > 1)
        return false;
    if (neighbours) {
        // Offsets must run from 0 upward and indices stay below the item count, so that no lookup can leave the
        // arrays whatever the file says.
        const auto validLists = [&](std::vector<std::uint64_t>& start, std::size_t rows,
                                    std::vector<std::uint32_t>& index) {
            if (!in.GetVector(start, rows + 1) || start.front() != 0)
                return false;
            for (std::size_t r = 0; r < rows; ++r)
                if (start[r + 1] < start[r])
                    return false;
            if (start.back() > in.Left() / sizeof(std::uint32_t) ||
                !in.GetVector(index, static_cast<std::size_t>(start.back())))
                return false;
            return std::all_of(index.begin(), index.end(), [&](std::uint32_t i) { return i < loaded.numItems; });
        };
        if (!in.GetValue(loaded.neighbourBlend) || !std::isfinite(loaded.neighbourBlend) ||
            !validLists(loaded.neighbourStart, loaded.numItems, loaded.neighbourIndex) ||
            !in.GetVector(loaded.neighbourWeight, loaded.neighbourIndex.size()) ||
            !validLists(loaded.ratedStart, loaded.numUsers, loaded.ratedItem) ||
            !in.GetVector(loaded.ratedResidual, loaded.ratedItem.size()))
            return false;
    }
    if (in.Left() != 0)
        return false;
    if (loaded.HasNeighbours()) {
        // Lookups in a user's items assume them sorted, as training writes them.
        for (std::uint32_t u = 0; u < loaded.numUsers; ++u)
            for (std::uint64_t k = loaded.ratedStart[u] + 1; k < loaded.ratedStart[u + 1]; ++k)
                if (loaded.ratedItem[k - 1] > loaded.ratedItem[k])
                    return false;
        loaded.IndexHeavyUsers();
    }
    *m_impl = std::move(loaded);
    return true;
}

} // namespace quillory::model
