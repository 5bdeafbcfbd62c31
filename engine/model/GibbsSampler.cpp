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
            if (rows.Count(static_cast<std::size_t>(c)) == 0)
                continue;
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
        for (Eigen::Index c = first; c < last; ++c)
            if (rows.Count(static_cast<std::size_t>(c)) != 0)
                centred.col(filled++) = params.col(c) - average;
        Matrix& part = chunkScatter[chunk];
        part = Matrix::Zero(d, d);
        part.selfadjointView<Eigen::Lower>().rankUpdate(centred);
    });
    Matrix scatter = Matrix::Zero(d, d);
    for (const Matrix& part : chunkScatter)
        scatter += part;
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
            for (std::size_t k = byUser.start[u]; k < byUser.start[u + 1]; ++k)
                sum += Eigen::Map<const Column>(y.data() + static_cast<Eigen::Index>(byUser.index[k]) * d, d);
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
        if (k + kPrefetchAhead < end)
            PrefetchColumn(residual, byItem.index[k + std::size_t{kPrefetchAhead}]);
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
    const Mat q = eigenvectors;
    const Vec e = eigenvalues;
    Vec sum(d), rotated(d), drawn(d);
    double squares = 0.0;
    const auto items = static_cast<std::uint32_t>(implicitY.cols());
    for (std::uint32_t j = 0; j < items; ++j) {
        if (byItem.Count(j) == 0)
            continue;
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
    return fixed > 0 ? (fixed + 3) / 4 * 4 : d;
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
            if (j + kPrefetchAhead < n)
                PrefetchColumn(step.other, step.rows.index[begin + static_cast<std::size_t>(j + kPrefetchAhead)]);
            float* column = work.design.data() + j * stride;
            const double* from = step.other.data() + static_cast<Eigen::Index>(o) * d;
            column[0] = 1.0f;
            for (Eigen::Index f = 1; f < length; ++f)
                column[f] = static_cast<float>(from[f]);
            for (Eigen::Index f = length; f < stride; ++f)
                column[f] = 0.0f;
            const double t = step.rows.value[begin + static_cast<std::size_t>(j)] - step.mean - from[0];
            work.targets[static_cast<std::size_t>(j)] = t;
            targetSquares += t * t;
        }
        for (Eigen::Index j = 0; j < n; ++j)
            gathered.noalias() += work.targets[static_cast<std::size_t>(j)] *
                                  Eigen::Map<const VecF>(work.design.data() + j * stride, d).template cast<double>();
        if (n > 32) {
            if constexpr (kFixed > 0) {
                // Long rows of a known dimension: the lower triangle of X X^T in register blocks of whole packets,
                // summed in single precision like the general product below, then mirrored.
                GramLowerInPackets<kPadded / 4>(work.design.data(), static_cast<std::size_t>(n),
                                                work.gramPackets.data());
                for (Eigen::Index b = 0; b < d; ++b)
                    for (Eigen::Index i = b; i < d; ++i)
                        gram(i, b) = gram(b, i) = work.gramPackets[static_cast<std::size_t>(b * stride + i)];
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
            for (int i = 0; i < m; ++i)
                for (int k = 0; k <= i; ++k)
                    a[i * m + k] = p[i * m + k];
            for (Eigen::Index j = 0; j < n; ++j) {
                const float* x = work.design.data() + j * stride;
                for (int i = 0; i < m; ++i) {
                    const double xi = step.alpha * x[i];
                    for (int k = 0; k <= i; ++k)
                        a[i * m + k] += xi * static_cast<double>(x[k]);
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
            for (Eigen::Index f = 0; f < d; ++f)
                z(f) = rhs(f) + random.Normal();
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

} // namespace

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

    CThreadPool serial(1);
    CThreadPool& pool = threads ? *threads : serial;
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

    std::vector<RowWorkspace> workspaces(pool.Threads());
    for (RowWorkspace& work : workspaces) {
        const int fixed = d == 6 || d == 11 || d == 21 ? static_cast<int>(d) : 0;
        work.design.resize(PaddedRows(fixed, d), static_cast<Eigen::Index>(longest));
        work.gramBlock.resize(d, d);
        work.targets.resize(longest);
        work.gramPackets.resize(static_cast<std::size_t>(PaddedRows(fixed, d) * PaddedRows(fixed, d)));
    }
    double alpha = warm ? state->alpha : 2.0;
    const double invSamples = 1.0 / samples;

    // One side's step: every row's vector drawn from its Gaussian conditional given the other side, in chunks of
    // rows spread over the threads. Returns the squared error of the drawn vectors (used for the noise precision
    // when called last in a sweep), summed chunk by chunk in order.
    bool drawing = true;
    std::vector<double> chunkError;
    // `alongside`, where given, runs as one more task of the same loop (the first handed out), on whichever thread
    // takes it; it must neither read nor write what the rows do.
    auto sampleSide = [&](const Rows& rows, const Matrix& other, Matrix& self, const Hyper& hyper,
                          const Matrix* rowPriorMeans, bool wantMean, auto&& store, std::uint64_t seed,
                          const std::function<void()>& alongside = {}) {
        SideStep step{rows, other, self, hyper, rowPriorMeans, wantMean, alpha, mean, seed};
        step.draw = drawing;
        const auto count = static_cast<std::size_t>(self.cols());
        const std::size_t chunks = (count + kRowsPerChunk - 1) / kRowsPerChunk;
        const std::size_t extra = alongside ? 1 : 0;
        chunkError.assign(chunks, 0.0);
        const auto run = [&]<int D>() {
            const FewRatingsPrior<D> fewPrior(hyper.precision);
            pool.Run(chunks + extra, [&](std::size_t task, unsigned thread) {
                if (task < extra) {
                    alongside();
                    return;
                }
                const std::size_t chunk = task - extra;
                const auto first = static_cast<Eigen::Index>(chunk * kRowsPerChunk);
                const auto last = static_cast<Eigen::Index>(std::min(count, (chunk + 1) * kRowsPerChunk));
                chunkError[chunk] = SampleRows<D>(step, fewPrior, workspaces[thread], first, last, store);
            });
        };
        // The common ranks get loops of fixed length, which the compiler unrolls; any other rank works as well.
        switch (d) {
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
        for (const double error : chunkError)
            total += error;
        return total;
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
    Matrix implicitNoise(d, implicit ? numItems : 0);
    // `residual` holds w_u - mean - sum_j f_uj y_j for every user; each y_j is drawn from its conditional given the
    // rest and the residuals of its raters are updated at once.
    // Everything the implicit step draws from the shared stream, drawn before the step itself runs: the seed of the
    // items' normal variates (which are then drawn over the threads, from a stream per item) and the Gamma variate
    // of the vectors' precision, whose shape is known beforehand. The step proper then needs the stream no more, so
    // it can run beside the item side's step, which reads neither the residuals nor the implicit vectors.
    struct ImplicitStep {
        Matrix q; // eigenvectors and eigenvalues of the prior precision
        Vector e;
        double gamma = 0.0;
    };
    std::size_t implicitRows = 0;
    for (std::uint32_t j = 0; j < numItems; ++j)
        implicitRows += byItem.Count(j) > 0;
    auto prepareImplicit = [&](const Hyper& hyper) {
        const std::uint64_t noiseSeed = random.Next();
        const std::size_t chunks = (numItems + kRowsPerChunk - 1) / kRowsPerChunk;
        pool.Run(chunks, [&](std::size_t chunk, unsigned) {
            const std::size_t last = std::min<std::size_t>(numItems, (chunk + 1) * kRowsPerChunk);
            for (std::size_t j = chunk * kRowsPerChunk; j < last; ++j) {
                CRandom itemRandom = RowRandom(noiseSeed, j);
                for (Eigen::Index f = 0; f < d; ++f)
                    implicitNoise(f, static_cast<Eigen::Index>(j)) = itemRandom.Normal();
            }
        });
        // One eigendecomposition of the prior precision per sweep makes every item's draw two small products.
        ImplicitStep step;
        SymmetricEigen(hyper.precision, step.q, step.e);
        step.gamma = random.Gamma(1.0 + 0.5 * static_cast<double>(implicitRows * static_cast<std::size_t>(d)));
        return step;
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
            ComputeImplicitPart(pool, byUser, userScale, implicitY, implicitPart);
        }
    } else if (settings.initSweeps > 0) {
        Hyper ridge;
        ridge.mean = Vector::Zero(d);
        ridge.precision = Matrix::Identity(d, d) * settings.initRidge;
        const double savedAlpha = alpha;
        alpha = 1.0;
        drawing = false;
        for (int sweep = 0; sweep < settings.initSweeps; ++sweep) {
            sampleSide(
                byItem, users, items, ridge, nullptr, false, [](Eigen::Index, const auto&) {}, random.Next());
            sampleSide(
                byUser, items, users, ridge, nullptr, false, [](Eigen::Index, const auto&) {}, random.Next());
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
        const Hyper itemHyper = SampleHyper(items, byItem, random, pool);
        const std::uint64_t itemSeed = random.Next();
        const Matrix* userPriorMeans = nullptr;
        Hyper userHyper;
        if (implicit) {
            // Users' vectors less their implicit part give the hyperparameters; the implicit vectors are then
            // drawn given those (beside the item side's step, which needs neither), and each user's prior mean
            // follows from the items he rated.
            residual = users - implicitPart;
            userHyper = SampleHyper(residual, byUser, random, pool);
            residual.colwise() -= userHyper.mean;
            const ImplicitStep step = prepareImplicit(userHyper);
            double squares = 0.0;
            sampleSide(
                byItem, users, items, itemHyper, nullptr, false, [](Eigen::Index, const auto&) {}, itemSeed,
                [&] {
                    squares = DrawImplicit(byItem, userScale, step.q, step.e, implicitPrecision, implicitNoise,
                                           residual, implicitY);
                });
            implicitPrecision = step.gamma / (1.0 + 0.5 * squares);
            ComputeImplicitPart(pool, byUser, userScale, implicitY, implicitPart);
            priorMeans = implicitPart.colwise() + userHyper.mean;
            userPriorMeans = &priorMeans;
        } else {
            sampleSide(
                byItem, users, items, itemHyper, nullptr, false, [](Eigen::Index, const auto&) {}, itemSeed);
            userHyper = SampleHyper(users, byUser, random, pool);
        }
        const double usedAlpha = alpha;
        double squaredError = 0.0;
        if (keep) {
            // Items keep this sweep's draw; users keep their conditional mean given it, which fold-in reproduces.
            constexpr std::size_t kItemsPerChunk = 1024;
            pool.Run((numItems + kItemsPerChunk - 1) / kItemsPerChunk, [&](std::size_t chunk, unsigned) {
                const auto last =
                    static_cast<std::uint32_t>(std::min<std::size_t>(numItems, (chunk + 1) * kItemsPerChunk));
                for (auto i = static_cast<std::uint32_t>(chunk * kItemsPerChunk); i < last; ++i) {
                    float* row = &itemFactors[std::size_t(i) * width + std::size_t(s) * factors];
                    for (std::uint32_t f = 0; f < factors; ++f)
                        row[f] = static_cast<float>(items(f + 1, i) * invSamples);
                    itemSampleBias[std::size_t(i) * samples + std::size_t(s)] = static_cast<float>(items(0, i));
                    itemBias[i] += static_cast<float>(items(0, i) * invSamples);
                    if (implicit)
                        for (Eigen::Index f = 0; f < d; ++f)
                            implicitVectors[(std::size_t(i) * samples + std::size_t(s)) * std::size_t(d) +
                                            static_cast<std::size_t>(f)] = static_cast<float>(implicitY(f, i));
                }
            });
            squaredError = sampleSide(
                byUser, items, users, userHyper, userPriorMeans, true,
                [&](Eigen::Index u, const auto& m) {
                    float* row = &userFactors[std::size_t(u) * width + std::size_t(s) * factors];
                    for (std::uint32_t f = 0; f < factors; ++f)
                        row[f] = static_cast<float>(m(f + 1));
                    userBias[static_cast<std::size_t>(u)] += static_cast<float>(m(0) * invSamples);
                    if (curve)
                        sampleUserBias[static_cast<std::size_t>(u)] = m(0);
                },
                random.Next());
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
            squaredError = sampleSide(
                byUser, items, users, userHyper, userPriorMeans, false, [](Eigen::Index, const auto&) {},
                random.Next());
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

} // namespace quillory::model
