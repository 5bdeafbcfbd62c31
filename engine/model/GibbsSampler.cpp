// The sampler of the Bayesian factorisation (Salakhutdinov and Mnih, 2008): the hyperparameters of each side from
// their Normal-Wishart posterior, every row's vector from its Gaussian conditional, the implicit-feedback vectors,
// and the noise precision; then the user's conditional mean that fold-in computes the same way.

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include <Eigen/Cholesky>
#include <Eigen/Core>

#include "DenseKernels.h"
#include "Random.h"
#include "RatingModelImpl.h"
#include "RatingRows.h"
#include "ThreadPool.h"

namespace quillory::model {

namespace {

// Mean and precision of one side's vectors.
struct Hyper {
    Vector mean;
    Matrix precision;
};

// Draws the mean and precision of the columns of `params` that have ratings, from their Normal-Wishart posterior
// (prior: mean 0, beta0 = 2, scale matrix I, degrees of freedom = dimension). The sums over the columns are taken
// in fixed chunks over the threads and added in chunk order, so they are the same on any number of threads.
Hyper SampleHyper(const Matrix& params, const Rows& rows, CRandom& random, CThreadPool& pool) {
    const Eigen::Index d = params.rows();
    const double beta0 = 2.0;
    const double nu0 = static_cast<double>(d);
    constexpr Eigen::Index kColumnsPerChunk = 1024;
    const Eigen::Index columns = params.cols();
    const auto chunks = static_cast<std::size_t>((columns + kColumnsPerChunk - 1) / kColumnsPerChunk);
    std::vector<Vector> chunkSum(chunks, Vector::Zero(d));
    std::vector<std::size_t> chunkCount(chunks, 0);
    pool.Run(chunks, [&](std::size_t chunk, unsigned) {
        const Eigen::Index first = static_cast<Eigen::Index>(chunk) * kColumnsPerChunk;
        const Eigen::Index last = std::min(columns, first + kColumnsPerChunk);
        for (Eigen::Index c = first; c < last; ++c) {
            if (rows.Count(static_cast<std::size_t>(c)) == 0) {
                continue;
            }
            chunkSum[chunk] += params.col(c);
            ++chunkCount[chunk];
        }
    });
    Vector sum = Vector::Zero(d);
    std::size_t n = 0;
    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
        sum += chunkSum[chunk];
        n += chunkCount[chunk];
    }
    Hyper hyper;
    if (n == 0) {
        hyper.mean = Vector::Zero(d);
        hyper.precision = Matrix::Identity(d, d) * nu0;
        return hyper;
    }
    const double count = static_cast<double>(n);
    const Vector average = sum / count;
    // The scatter about the average: each chunk's centred columns side by side, so that its part is one blocked
    // product rather than a rank-one update per column.
    std::vector<Matrix> chunkScatter(chunks);
    pool.Run(chunks, [&](std::size_t chunk, unsigned) {
        const Eigen::Index first = static_cast<Eigen::Index>(chunk) * kColumnsPerChunk;
        const Eigen::Index last = std::min(columns, first + kColumnsPerChunk);
        Matrix centred(d, static_cast<Eigen::Index>(chunkCount[chunk]));
        Eigen::Index filled = 0;
        for (Eigen::Index c = first; c < last; ++c) {
            if (rows.Count(static_cast<std::size_t>(c)) != 0) {
                centred.col(filled++) = params.col(c) - average;
            }
        }
        Matrix& part = chunkScatter[chunk];
        part = Matrix::Zero(d, d);
        part.selfadjointView<Eigen::Lower>().rankUpdate(centred);
    });
    Matrix scatter = Matrix::Zero(d, d);
    for (const Matrix& part : chunkScatter) {
        scatter += part;
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
        for (Eigen::Index j = 0; j < i; ++j) {
            a(i, j) = random.Normal();
        }
    }
    const Matrix la = chol * a;
    hyper.precision = la * la.transpose();

    // mean ~ N(postMean, (beta * precision)^-1)
    Eigen::LLT<Matrix> llt(beta * hyper.precision);
    Vector z(d);
    for (Eigen::Index i = 0; i < d; ++i) {
        z(i) = random.Normal();
    }
    hyper.mean = postMean + llt.matrixU().solve(z);
    return hyper;
}

// The rows' ratings point all over the other side's columns, which outgrow the nearer caches on large data: each
// loop asks for the column it will need a few ratings ahead, so that the fetch overlaps the arithmetic.
constexpr int kPrefetchAhead = 6;

void PrefetchColumn(const Matrix& matrix, std::uint32_t column) {
    const double* start = matrix.data() + static_cast<Eigen::Index>(column) * matrix.rows();
    __builtin_prefetch(start);
    __builtin_prefetch(start + matrix.rows() - 1);
}

// out.col(u) = scale[u] * sum of y.col(j) over the items j that user u rated; users in chunks over the threads. D is
// the dimension when known at compile time.
template <int D>
void ComputeImplicitPartOf(CThreadPool& pool, const Rows& byUser, const std::vector<double>& scale, const Matrix& y,
                           Matrix& out) {
    using Column = Eigen::Matrix<double, D, 1>;
    constexpr std::size_t kUsersPerChunk = 256;
    const Eigen::Index d = out.rows();
    const auto users = static_cast<std::size_t>(out.cols());
    pool.Run((users + kUsersPerChunk - 1) / kUsersPerChunk, [&](std::size_t chunk, unsigned) {
        const std::size_t last = std::min(users, (chunk + 1) * kUsersPerChunk);
        Column sum(d);
        for (std::size_t u = chunk * kUsersPerChunk; u < last; ++u) {
            sum.setZero();
            for (std::size_t k = byUser.start[u]; k < byUser.start[u + 1]; ++k) {
                sum += Eigen::Map<const Column>(y.data() + static_cast<Eigen::Index>(byUser.index[k]) * d, d);
            }
            Eigen::Map<Column>(out.data() + static_cast<Eigen::Index>(u) * d, d) = sum * scale[u];
        }
    });
}

void ComputeImplicitPart(CThreadPool& pool, const Rows& byUser, const std::vector<double>& scale, const Matrix& y,
                         Matrix& out) {
    switch (out.rows()) {
    case 6:
        return ComputeImplicitPartOf<6>(pool, byUser, scale, y, out);
    case 11:
        return ComputeImplicitPartOf<11>(pool, byUser, scale, y, out);
    case 21:
        return ComputeImplicitPartOf<21>(pool, byUser, scale, y, out);
    default:
        return ComputeImplicitPartOf<Eigen::Dynamic>(pool, byUser, scale, y, out);
    }
}

// Rows per chunk of a side's step. Fixed, so that the chunks (and the order their partial sums are added in) are
// the same on any number of threads.
constexpr std::size_t kRowsPerChunk = 64;

// The random source of one row's draw in one step: seeded from the step's seed and the row, not taken from a
// shared stream, so that rows can be drawn in any order, on any thread, and still draw the same numbers.
CRandom RowRandom(std::uint64_t stepSeed, std::uint64_t row) {
    std::uint64_t state = stepSeed ^ (row * 0xd1b54a32d192ed03ull);
    return CRandom(SplitMix(state));
}

// The implicit step's work on item j's raters u, each with weight f_u = scale[u]: gathers sum += f_u residual_u
// (returning the sum of f_u^2), or with `spread`, applies the change: residual_u -= f_u change.
template <int D>
double ForRatersOf(const Rows& byItem, std::uint32_t j, const std::vector<double>& scale, Matrix& residual,
                   Eigen::Matrix<double, D, 1>& vector, bool spread) {
    using Column = Eigen::Matrix<double, D, 1>;
    const Eigen::Index d = residual.rows();
    double squares = 0.0;
    const std::size_t end = byItem.start[j + 1];
    for (std::size_t k = byItem.start[j]; k < end; ++k) {
        const std::uint32_t u = byItem.index[k];
        if (k + kPrefetchAhead < end) {
            PrefetchColumn(residual, byItem.index[k + std::size_t{kPrefetchAhead}]);
        }
        const double f = scale[u];
        Eigen::Map<Column> column(residual.data() + static_cast<Eigen::Index>(u) * d, d);
        if (spread) {
            column.noalias() -= f * vector;
        } else {
            squares += f * f;
            vector.noalias() += f * column;
        }
    }
    return squares;
}

// Draws every rated item's implicit vector y_j in turn from its conditional given the others, through the
// residuals of its raters, which each draw updates before the next item reads them. This is the serial part of a
// sweep, so everything else is kept out of it: the normal variates come drawn beforehand (column j for item j), the
// common ranks get vectors and matrices of fixed size, which the compiler unrolls. The conditional precision of y_j
// is c_j * Lambda + lambda_y * I with c_j = sum of f_uj^2; with Lambda = Q diag(e) Q^T, the conditional mean is
// Q diag(e / (c e + lambda)) Q^T s and a draw adds Q diag((c e + lambda)^-1/2) z. Returns the sum of the squared
// norms of the drawn vectors.
template <int D>
double DrawImplicitOf(const Rows& byItem, const std::vector<double>& scale, const Matrix& eigenvectors,
                      const Vector& eigenvalues, double implicitPrecision, const Matrix& noise, Matrix& residual,
                      Matrix& implicitY) {
    using Vec = Eigen::Matrix<double, D, 1>;
    using Mat = Eigen::Matrix<double, D, D>;
    const Eigen::Index d = residual.rows();
    // Copies of fixed size where D is known, so that the loop below unrolls; a plain copy where it is not.
    const Mat q = eigenvectors; // NOLINT(performance-unnecessary-copy-initialization)
    const Vec e = eigenvalues;  // NOLINT(performance-unnecessary-copy-initialization)
    Vec sum(d), rotated(d), drawn(d);
    double squares = 0.0;
    const auto items = static_cast<std::uint32_t>(implicitY.cols());
    for (std::uint32_t j = 0; j < items; ++j) {
        if (byItem.Count(j) == 0) {
            continue;
        }
        Eigen::Map<Vec> y(implicitY.data() + static_cast<Eigen::Index>(j) * d, d);
        sum.setZero();
        const double c = ForRatersOf<D>(byItem, j, scale, residual, sum, false);
        sum.noalias() += c * y;
        rotated.noalias() = q.transpose().lazyProduct(sum);
        for (Eigen::Index f = 0; f < d; ++f) {
            const double precision = c * e(f) + implicitPrecision;
            rotated(f) = (rotated(f) * e(f) + noise(f, j) * std::sqrt(precision)) / precision;
        }
        drawn.noalias() = q.lazyProduct(rotated);
        sum = drawn - y; // the change, applied to the raters' residuals
        ForRatersOf<D>(byItem, j, scale, residual, sum, true);
        y = drawn;
        squares += drawn.squaredNorm();
    }
    return squares;
}

double DrawImplicit(const Rows& byItem, const std::vector<double>& scale, const Matrix& q, const Vector& e,
                    double implicitPrecision, const Matrix& noise, Matrix& residual, Matrix& implicitY) {
    switch (residual.rows()) {
    case 6:
        return DrawImplicitOf<6>(byItem, scale, q, e, implicitPrecision, noise, residual, implicitY);
    case 11:
        return DrawImplicitOf<11>(byItem, scale, q, e, implicitPrecision, noise, residual, implicitY);
    case 21:
        return DrawImplicitOf<21>(byItem, scale, q, e, implicitPrecision, noise, residual, implicitY);
    default:
        return DrawImplicitOf<Eigen::Dynamic>(byItem, scale, q, e, implicitPrecision, noise, residual, implicitY);
    }
}

// Rows of the design matrix: where the dimension is known at compile time, a whole number of 4-float packets, the
// padding zero, so that the Gram matrix of a long row is built from full packets.
constexpr Eigen::Index PaddedRows(int fixed, Eigen::Index d) {
    return fixed > 0 ? (Eigen::Index{fixed} + 3) / 4 * 4 : d;
}

// One thread's scratch space for the row draws.
struct RowWorkspace {
    Eigen::MatrixXf design; // PaddedRows(d) x longest row
    Eigen::MatrixXf gramBlock;
    std::vector<double> targets;    // longest row
    std::vector<float> gramPackets; // PaddedRows(d) x PaddedRows(d)
};

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
    std::uint64_t seed; // of this step's row draws
    bool draw = true;   // false: every row takes its conditional mean (a ridge least-squares step)
};

// What the draws of rows of one or two ratings need of the step's prior precision: its factor (in the layout
// SolveUpper reads) and its inverse. The same for every row of a step, so made once per step.
template <int D> struct FewRatingsPrior {
    using Mat = Eigen::Matrix<double, D, D>;
    explicit FewRatingsPrior(const Matrix& precision) : factor(precision) {
        covariance = factor.llt().solve(Mat::Identity(factor.rows(), factor.cols()));
        CholeskyInPlace<D == Eigen::Dynamic ? 0 : D>(factor.data(), static_cast<int>(factor.rows()));
    }
    Mat factor;
    Mat covariance;
};

// The draw of a row of one or two ratings, most rows of sparse data: ConditionOnFew on the row's ratings, with the
// prior shared by every row of the step. Returns the squared error of the draw on the row's ratings.
template <int D>
double DrawFromFewRatings(const SideStep& step, const FewRatingsPrior<D>& prior, Eigen::Index row, std::size_t begin,
                          Eigen::Index n, Eigen::Matrix<double, D, 1>& z, Eigen::Matrix<double, D, 1>& mean) {
    using Vec = Eigen::Matrix<double, D, 1>;
    const Vec m0 = step.rowPriorMeans ? Vec(step.rowPriorMeans->col(row)) : Vec(step.hyper.mean);
    Vec x[2];
    double t[2];
    for (Eigen::Index j = 0; j < n; ++j) {
        const std::uint32_t o = step.rows.index[begin + static_cast<std::size_t>(j)];
        x[j] = step.other.col(o);
        x[j](0) = 1.0;
        t[j] = step.rows.value[begin + static_cast<std::size_t>(j)] - step.mean - step.other(0, o);
    }
    CRandom random = RowRandom(step.seed, static_cast<std::uint64_t>(row));
    ConditionOnFew<D>(prior.factor, prior.covariance, m0, x, t, static_cast<int>(n), step.alpha,
                      step.draw ? &random : nullptr, z, mean);
    double squaredError = 0.0;
    for (Eigen::Index j = 0; j < n; ++j) {
        const double error = t[j] - x[j].dot(z);
        squaredError += error * error;
    }
    return squaredError;
}

// Draws the vectors of rows [first, last) from their Gaussian conditionals: precision = prior + alpha X X^T = L L^T,
// and the draw mean + L^-T z is computed as L^-T (L^-1 rhs + z), so that only the stored conditional means need a
// third solve. `store(row, conditionalMean)` sees every row. Returns the squared error of the drawn vectors. D is
// the dimension when known at compile time.
template <int D, class Store>
double SampleRows(const SideStep& step, const FewRatingsPrior<D>& fewPrior, RowWorkspace& work, Eigen::Index first,
                  Eigen::Index last, Store&& store) {
    using Vec = Eigen::Matrix<double, D, 1>;
    using Mat = Eigen::Matrix<double, D, D>;
    using VecF = Eigen::Matrix<float, D, 1>;
    constexpr int kFixed = D == Eigen::Dynamic ? 0 : D;
    constexpr int kPadded = static_cast<int>(PaddedRows(kFixed, 0));
    const Eigen::Index d = step.other.rows();
    const Eigen::Index stride = PaddedRows(kFixed, d);
    const Eigen::Index length = kFixed > 0 ? kFixed : d; // d, known to the compiler where it can be
    const Mat prior = step.hyper.precision;
    const Vec hyperMean = step.hyper.mean;
    Vec priorTerm = prior.lazyProduct(hyperMean);
    Mat gram(d, d), precision(d, d);
    Vec gathered(d), rhs(d), z(d), conditionalMean(d);
    double squaredError = 0.0;
    for (Eigen::Index row = first; row < last; ++row) {
        const std::size_t begin = step.rows.start[static_cast<std::size_t>(row)];
        const auto n = static_cast<Eigen::Index>(step.rows.Count(static_cast<std::size_t>(row)));
        if (n == 0) {
            step.self.col(row) = step.hyper.mean;
            store(row, step.hyper.mean);
            continue;
        }
        if (n <= 2) {
            squaredError += DrawFromFewRatings<D>(step, fewPrior, row, begin, n, z, conditionalMean);
            step.self.col(row) = z;
            store(row, conditionalMean);
            continue;
        }
        if (step.rowPriorMeans) {
            const Vec rowMean = step.rowPriorMeans->col(row);
            priorTerm.noalias() = prior.lazyProduct(rowMean);
        }
        // Gather the other side's vectors (bias replaced by 1) and the targets. The Gram matrix X X^T of long rows
        // is summed in single precision, which halves its cost and stays far below the noise of a draw. The vectors
        // are converted by a plain loop: written as an Eigen cast and assignment, GCC's block vectoriser made -O2 and
        // -O3 compute other values than an unoptimised build, so two builds of one source trained different models.
        // X t is summed in a pass of its own, from the stored single-precision vectors: summed in the gathering loop,
        // GCC 12's vectoriser took some lanes of X straight from the double values, without their rounding to float,
        // whenever the code around it was inlined a little differently.
        double targetSquares = 0.0;
        gathered.setZero();
        for (Eigen::Index j = 0; j < n; ++j) {
            const std::uint32_t o = step.rows.index[begin + static_cast<std::size_t>(j)];
            if (j + kPrefetchAhead < n) {
                PrefetchColumn(step.other, step.rows.index[begin + static_cast<std::size_t>(j + kPrefetchAhead)]);
            }
            float* column = work.design.data() + j * stride;
            const double* from = step.other.data() + static_cast<Eigen::Index>(o) * d;
            column[0] = 1.0f;
            for (Eigen::Index f = 1; f < length; ++f) {
                column[f] = static_cast<float>(from[f]);
            }
            for (Eigen::Index f = length; f < stride; ++f) {
                column[f] = 0.0f;
            }
            const double t = step.rows.value[begin + static_cast<std::size_t>(j)] - step.mean - from[0];
            work.targets[static_cast<std::size_t>(j)] = t;
            targetSquares += t * t;
        }
        for (Eigen::Index j = 0; j < n; ++j) {
            gathered.noalias() += work.targets[static_cast<std::size_t>(j)] *
                                  Eigen::Map<const VecF>(work.design.data() + j * stride, d).template cast<double>();
        }
        if (n > 32) {
            if constexpr (kFixed > 0) {
                // Long rows of a known dimension: the lower triangle of X X^T in register blocks of whole packets,
                // summed in single precision like the general product below, then mirrored.
                GramLowerInPackets<kPadded / 4>(work.design.data(), static_cast<std::size_t>(n),
                                                work.gramPackets.data());
                for (Eigen::Index b = 0; b < d; ++b) {
                    for (Eigen::Index i = b; i < d; ++i) {
                        gram(i, b) = gram(b, i) = work.gramPackets[static_cast<std::size_t>(b * stride + i)];
                    }
                }
            } else {
                work.gramBlock.setZero();
                work.gramBlock.selfadjointView<Eigen::Lower>().rankUpdate(work.design.leftCols(n));
                gram = work.gramBlock.template cast<double>();
                gram.template triangularView<Eigen::StrictlyUpper>() = gram.transpose();
            }
        }
        const int dd = static_cast<int>(d);
        const bool shortRow = n <= 32;
        if (shortRow) {
            // Short rows, most rows of sparse data: prior + alpha X X^T on the triangle the factorisation reads
            // (a[i * d + k], k <= i), summed a rating at a time in double precision; no Gram matrix at all.
            const int m = kFixed > 0 ? kFixed : dd;
            const double* p = prior.data();
            double* a = precision.data();
            for (int i = 0; i < m; ++i) {
                for (int k = 0; k <= i; ++k) {
                    a[i * m + k] = p[i * m + k];
                }
            }
            for (Eigen::Index j = 0; j < n; ++j) {
                const float* x = work.design.data() + j * stride;
                for (int i = 0; i < m; ++i) {
                    const double xi = step.alpha * x[i];
                    for (int k = 0; k <= i; ++k) {
                        a[i * m + k] += xi * static_cast<double>(x[k]);
                    }
                }
            }
        } else {
            precision = prior + step.alpha * gram;
        }
        CholeskyInPlace<kFixed>(precision.data(), dd);
        rhs = priorTerm + step.alpha * gathered;
        SolveLower<kFixed>(precision.data(), dd, rhs.data());
        if (step.draw) {
            CRandom random = RowRandom(step.seed, static_cast<std::uint64_t>(row));
            for (Eigen::Index f = 0; f < d; ++f) {
                z(f) = rhs(f) + random.Normal();
            }
        } else {
            z = rhs;
        }
        SolveUpper<kFixed>(precision.data(), dd, z.data());
        step.self.col(row) = z;
        if (step.wantMean) {
            conditionalMean = rhs;
            SolveUpper<kFixed>(precision.data(), dd, conditionalMean.data());
        }
        store(row, conditionalMean);
        if (shortRow) {
            // Squared error of the draw, rating by rating: fewer operations than the quadratic form below when
            // the row is shorter than the Gram matrix is wide.
            for (Eigen::Index j = 0; j < n; ++j) {
                const Eigen::Map<const VecF> x(work.design.data() + j * stride, d);
                const double error = work.targets[static_cast<std::size_t>(j)] - x.template cast<double>().dot(z);
                squaredError += error * error;
            }
        } else {
            // Squared error of the draw: sum t^2 - 2 z.Xt + z' X X^T z, without another pass over the row.
            const double quadratic = z.dot(gram.lazyProduct(z));
            squaredError += std::max(0.0, targetSquares - 2.0 * z.dot(gathered) + quadratic);
        }
    }
    return squaredError;
}

// The store of a step whose conditional means nobody keeps: the ridge fit's, the items', the burn-in's users'.
struct DiscardRows {
    template <class Mean> void operator()(Eigen::Index, const Mean&) const {}
};

} // namespace

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

    // One side's step: every row's vector drawn from its Gaussian conditional given the other side, in chunks of
    // rows spread over the threads. `store(row, conditionalMean)` sees every row. Returns the squared error of the
    // drawn vectors (what the noise precision is drawn from when the step ends a sweep), summed chunk by chunk in
    // order. `alongside`, where given, runs as one more task of the same loop (the first handed out), on whichever
    // thread takes it; it must neither read nor write what the rows do.
    template <class Store>
    double DrawSide(const Rows& rows, const Matrix& other, Matrix& self, const Hyper& hyper,
                    const Matrix* rowPriorMeans, bool wantMean, Store&& store, std::uint64_t seed,
                    const std::function<void()>& alongside = {}) {
        const SideStep step{rows, other, self, hyper, rowPriorMeans, wantMean, m_alpha, m_model.mean, seed};
        return RunSide(step, store, alongside);
    }

    // DrawSide for a step its caller set up (the ridge fit's, which takes conditional means at a noise precision of
    // its own).
    template <class Store>
    double RunSide(const SideStep& step, Store&& store, const std::function<void()>& alongside = {}) {
        const auto count = static_cast<std::size_t>(step.self.cols());
        const std::size_t chunks = (count + kRowsPerChunk - 1) / kRowsPerChunk;
        const std::size_t extra = alongside ? 1 : 0;
        m_chunkError.assign(chunks, 0.0);
        const auto run = [&]<int D>() {
            const FewRatingsPrior<D> fewPrior(step.hyper.precision);
            m_pool.Run(chunks + extra, [&](std::size_t task, unsigned thread) {
                if (task < extra) {
                    alongside();
                    return;
                }
                const std::size_t chunk = task - extra;
                const auto first = static_cast<Eigen::Index>(chunk * kRowsPerChunk);
                const auto last = static_cast<Eigen::Index>(std::min(count, (chunk + 1) * kRowsPerChunk));
                m_chunkError[chunk] = SampleRows<D>(step, fewPrior, m_workspaces[thread], first, last, store);
            });
        };
        // The common ranks get loops of fixed length, which the compiler unrolls; any other rank works as well.
        switch (m_d) {
        case 6:
            run.template operator()<6>();
            break;
        case 11:
            run.template operator()<11>();
            break;
        case 21:
            run.template operator()<21>();
            break;
        default:
            run.template operator()<Eigen::Dynamic>();
            break;
        }
        double total = 0.0;
        for (const double error : m_chunkError) {
            total += error;
        }
        return total;
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
    std::vector<double> m_chunkError;

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
    m_workspaces.resize(m_pool.Threads());
    for (RowWorkspace& work : m_workspaces) {
        const int fixed = m_d == 6 || m_d == 11 || m_d == 21 ? static_cast<int>(m_d) : 0;
        work.design.resize(PaddedRows(fixed, m_d), static_cast<Eigen::Index>(longest));
        work.gramBlock.resize(m_d, m_d);
        work.targets.resize(longest);
        work.gramPackets.resize(static_cast<std::size_t>(PaddedRows(fixed, m_d) * PaddedRows(fixed, m_d)));
    }
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
    SideStep step{rows, other, self, prior, nullptr, false, 1.0, m_model.mean, m_random.Next()};
    step.draw = false;
    RunSide(step, DiscardRows{});
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
        DrawSide(m_byItem, m_users, m_items, itemHyper, nullptr, false, DiscardRows{}, itemSeed,
                 [&] { DrawImplicitVectors(step); });
        UpdateUserPriorMeans(userHyper);
    } else {
        DrawSide(m_byItem, m_users, m_items, itemHyper, nullptr, false, DiscardRows{}, itemSeed);
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
    return DrawSide(m_byUser, m_items, m_users, userHyper, UserPriorMeans(), false, DiscardRows{}, m_random.Next());
}

double CRatingModel::Impl::CGibbsChain::DrawAndKeepSample(std::uint32_t s, const Hyper& userHyper) {
    // Items keep this sweep's draw. The users' draws are not kept: the end of training solves every user against the
    // averaged items, as fold-in does. Only the held-out curve reads this sample's users, as their conditional means.
    KeepItems(s);
    double squaredError = 0.0;
    if (m_curve) {
        const std::size_t factors = m_model.factors;
        squaredError = DrawSide(
            m_byUser, m_items, m_users, userHyper, UserPriorMeans(), true,
            [&](Eigen::Index u, const auto& rowMean) {
                float* row = &m_sampleUserFactors[static_cast<std::size_t>(u) * factors];
                for (std::size_t f = 0; f < factors; ++f) {
                    row[f] = static_cast<float>(rowMean(static_cast<Eigen::Index>(f) + 1));
                }
                m_sampleUserBias[static_cast<std::size_t>(u)] = rowMean(0);
            },
            m_random.Next());
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

void CRatingModel::Impl::AverageSamples(const Rows& byUser) {
    // The kept samples become one: each item's vectors (factors, bias, implicit) and the users' prior and noise
    // precision are averaged over them, and every user takes his conditional mean given those, which is what
    // fold-in computes. A model of one sample's size predicts nearly as the average of the samples' predictions
    // did, and its cache holds one sample rather than all of them.
    if (!HasFactors()) {
        return;
    }
    const std::size_t width = Width();
    const std::size_t d = std::size_t(factors) + 1;
    const double inverse = 1.0 / samples;
    // Items in chunks over the threads: each item's sums are its own, taken over the samples in order.
    constexpr std::size_t kItemsPerChunk = 512;
    std::vector<float> averaged(std::size_t(numItems) * factors);
    std::vector<float> implicit(HasImplicit() ? std::size_t(numItems) * d : 0);
    RunOverRows(threads, numItems, kItemsPerChunk, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            for (std::size_t f = 0; f < factors; ++f) {
                double sum = 0.0; // the stored factors are already divided by the sample count
                for (std::size_t s = 0; s < samples; ++s) {
                    sum += itemFactors[i * width + s * factors + f];
                }
                averaged[i * factors + f] = static_cast<float>(sum);
            }
            for (std::size_t f = 0; !implicit.empty() && f < d; ++f) {
                double sum = 0.0;
                for (std::size_t s = 0; s < samples; ++s) {
                    sum += implicitVectors[(i * samples + s) * d + f];
                }
                implicit[i * d + f] = static_cast<float>(sum * inverse);
            }
        }
    });
    Vector meanPrior = Vector::Zero(static_cast<Eigen::Index>(d));
    Matrix precisionPrior = Matrix::Zero(static_cast<Eigen::Index>(d), static_cast<Eigen::Index>(d));
    double noise = 0.0;
    for (std::size_t s = 0; s < samples; ++s) {
        meanPrior += hyperMean[s] * inverse;
        precisionPrior += hyperPrecision[s] * inverse;
        noise += noisePrecision[s] * inverse;
    }
    // How far each item's vector (bias, factors) spread over the samples: a user solved against the averages alone
    // would take them for certain and follow his few ratings too far; the spread, added to his precision as the
    // samples' own variation would add it, holds him back about as much as solving against every sample did. What
    // all items share, a sample's drift of the whole factor space (a linear map of the averages, fitted by least
    // squares), is no uncertainty of any one item and is left out.
    itemVariance.assign(std::size_t(numItems) * d, 0.0f);
    {
        const auto rows = static_cast<Eigen::Index>(numItems);
        const auto cols = static_cast<Eigen::Index>(d);
        Matrix mean(rows, cols);
        for (std::size_t i = 0; i < numItems; ++i) {
            mean(static_cast<Eigen::Index>(i), 0) = itemBias[i];
            for (std::size_t f = 0; f < factors; ++f) {
                mean(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(f + 1)) = averaged[i * factors + f];
            }
        }
        // Sample s's items (bias, factors) as rows [first, last) of `out`, item by item.
        const auto sampleRows = [&](std::size_t s, std::size_t first, std::size_t last, Matrix& out) {
            out.resize(static_cast<Eigen::Index>(last - first), cols);
            for (std::size_t i = first; i < last; ++i) {
                const auto r = static_cast<Eigen::Index>(i - first);
                out(r, 0) = itemSampleBias[i * samples + s];
                for (std::size_t f = 0; f < factors; ++f) {
                    out(r, static_cast<Eigen::Index>(f + 1)) =
                        double(itemFactors[i * width + s * factors + f]) * samples;
                }
            }
        };
        // Each sample's map over all items, the samples over the threads; then each item's squared spread, the
        // items over the threads, summed over the samples in order. An item's row of the product with the map is
        // the same sum of d terms whichever rows are multiplied with it, so the chunks do not change the spread.
        const Eigen::LDLT<Matrix> gram((mean.transpose() * mean + 1e-9 * Matrix::Identity(cols, cols)).eval());
        std::vector<Matrix> maps(samples);
        RunOverRows(threads, samples, 1, [&](std::size_t first, std::size_t last) {
            Matrix sample;
            for (std::size_t s = first; s < last; ++s) {
                sampleRows(s, 0, numItems, sample);
                maps[s] = gram.solve(mean.transpose() * sample);
            }
        });
        RunOverRows(threads, numItems, kItemsPerChunk, [&](std::size_t first, std::size_t last) {
            const auto count = static_cast<Eigen::Index>(last - first);
            std::vector<double> squares((last - first) * d, 0.0);
            Matrix sample, spread;
            for (std::size_t s = 0; s < samples; ++s) {
                sampleRows(s, first, last, sample);
                spread = sample - mean.middleRows(static_cast<Eigen::Index>(first), count) * maps[s];
                for (Eigen::Index r = 0; r < count; ++r) {
                    for (std::size_t f = 0; f < d; ++f) {
                        const double e = spread(r, static_cast<Eigen::Index>(f));
                        squares[static_cast<std::size_t>(r) * d + f] += e * e;
                    }
                }
            }
            for (std::size_t k = 0; k < squares.size(); ++k) {
                itemVariance[first * d + k] = static_cast<float>(squares[k] * inverse);
            }
        });
    }
    itemFactors = std::move(averaged);
    implicitVectors = std::move(implicit);
    itemSampleBias = itemBias;
    hyperMean.assign(1, meanPrior);
    hyperPrecision.assign(1, precisionPrior);
    noisePrecision.assign(1, noise);
    sweeps = samples;
    samples = 1;
    SolveUsers(byUser);
}

void CRatingModel::Impl::SolveUsers(const Rows& byUser) {
    // Every trained user, and the prior a user without ratings falls back to, solved as fold-in solves them.
    userFactors.assign(std::size_t(numUsers) * Width(), 0.0f);
    userBias.assign(numUsers, 0.0f);
    priorUserFactors.assign(Width(), 0.0f);
    SolveUser({}, priorUserBias, priorUserFactors.data());
    constexpr std::size_t kUsersPerChunk = 256;
    RunOverRows(threads, numUsers, kUsersPerChunk, [&](std::size_t first, std::size_t last) {
        std::vector<std::pair<std::uint32_t, float>> row;
        for (auto u = static_cast<std::uint32_t>(first); u < last; ++u) {
            row.clear();
            for (std::size_t k = byUser.start[u]; k < byUser.start[u + 1]; ++k) {
                row.emplace_back(byUser.index[k], byUser.value[k]);
            }
            SolveUser(row, userBias[u], &userFactors[std::size_t(u) * Width()]);
        }
    });
}

// The items' spread counts at most as a noise of this precision (an error of 0.3 stars): on data that the factors fit
// almost exactly the noise precision grows without bound, and the spread, which each sample's own fit absorbed,
// must not then outweigh the ratings.
constexpr double kSpreadPrecision = 10.0;

// The user's conditional mean given each sample's item vectors: the same computation as the training's user step.
void CRatingModel::Impl::SolveUser(UserRatings ratings, float& bias, float* factorsOut) const {
    const Eigen::Index d = factors + 1;
    const std::size_t width = Width();
    std::vector<std::pair<std::uint32_t, float>> known;
    known.reserve(ratings.size());
    for (const auto& entry : ratings) {
        if (entry.first < numItems) {
            known.push_back(entry);
        }
    }
    const auto n = static_cast<Eigen::Index>(known.size());
    Matrix design(d, n);
    Vector target(n);
    double biasSum = 0.0;
    for (std::uint32_t s = 0; s < samples; ++s) {
        for (Eigen::Index j = 0; j < n; ++j) {
            const std::uint32_t item = known[static_cast<std::size_t>(j)].first;
            const float* row = &itemFactors[std::size_t(item) * width + std::size_t(s) * factors];
            design(0, j) = 1.0;
            for (std::uint32_t f = 0; f < factors; ++f) {
                design(f + 1, j) = static_cast<double>(row[f]) * samples;
            }
            const double itemB = itemSampleBias[std::size_t(item) * samples + s];
            target(j) = known[static_cast<std::size_t>(j)].second - mean - itemB;
        }
        const Matrix& prior = hyperPrecision[s];
        Matrix precision = prior;
        precision.selfadjointView<Eigen::Lower>().rankUpdate(design, noisePrecision[s]);
        if (!itemVariance.empty()) { // an averaged model: the items' spread over the samples averaged
            for (Eigen::Index j = 0; j < n; ++j) {
                const float* var =
                    &itemVariance[std::size_t(known[static_cast<std::size_t>(j)].first) * std::size_t(d)];
                for (Eigen::Index f = 0; f < d; ++f) {
                    precision(f, f) += std::min(noisePrecision[s], kSpreadPrecision) * var[f];
                }
            }
        }
        Vector priorMean = hyperMean[s];
        if (HasImplicit() && n > 0) {
            const double scale = 1.0 / std::sqrt(static_cast<double>(n));
            for (Eigen::Index j = 0; j < n; ++j) {
                const float* y =
                    &implicitVectors[(std::size_t(known[static_cast<std::size_t>(j)].first) * samples + s) *
                                     std::size_t(d)];
                for (Eigen::Index f = 0; f < d; ++f) {
                    priorMean(f) += scale * y[f];
                }
            }
        }
        Vector rhs = prior * priorMean;
        rhs.noalias() += noisePrecision[s] * (design * target);
        const Vector m = Eigen::LLT<Matrix>(precision).solve(rhs);
        for (std::uint32_t f = 0; f < factors; ++f) {
            factorsOut[std::size_t(s) * factors + f] = static_cast<float>(m(f + 1));
        }
        biasSum += m(0);
    }
    bias = static_cast<float>(biasSum / samples);
}

} // namespace quillory::model
