// The row draws of the sampler: each row's vector from its Gaussian conditional given the other side's vectors and
// the row's ratings, with the kernels that make them cheap at the common ranks.

#include "RowDraws.h"

#include <algorithm>

#include <Eigen/Cholesky>

#include "DenseKernels.h"
#include "Random.h"
#include "RatingRows.h"
#include "ThreadPool.h"

namespace quillory::model {

namespace {

// Rows of the design matrix: where the dimension is known at compile time, a whole number of 4-float packets, the
// padding zero, so that the Gram matrix of a long row is built from full packets.
constexpr Eigen::Index PaddedRows(int fixed, Eigen::Index d) {
    return fixed > 0 ? (Eigen::Index{fixed} + 3) / 4 * 4 : d;
}

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

// Keeps a row's conditional mean where the step keeps them (nowhere when it keeps none).
template <class Mean> void KeepMean(const SideStep& step, Eigen::Index row, const Mean& mean) {
    if (step.means == nullptr) {
        return;
    }
    const auto factors = static_cast<std::size_t>(mean.size() - 1);
    float* out = step.means->factors + static_cast<std::size_t>(row) * factors;
    for (std::size_t f = 0; f < factors; ++f) {
        out[f] = static_cast<float>(mean(static_cast<Eigen::Index>(f) + 1));
    }
    step.means->bias[row] = mean(0);
}

// The draws of one chunk's rows on one thread: precision = prior + alpha X X^T = L L^T, and the draw mean + L^-T z
// is computed as L^-T (L^-1 rhs + z), so that only the kept conditional means need a third solve. D is the dimension
// when known at compile time. The small vectors and matrices are made once and reused row after row.
template <int D> class CRowDraws {
public:
    CRowDraws(const SideStep& step, const FewRatingsPrior<D>& fewPrior, RowWorkspace& work)
        : m_step(step), m_fewPrior(fewPrior), m_work(work), m_d(step.other.rows()), m_stride(PaddedRows(kFixed, m_d)),
          m_prior(step.hyper.precision), m_priorTerm(m_prior.lazyProduct(Vec(step.hyper.mean))), m_gram(m_d, m_d),
          m_precision(m_d, m_d), m_gathered(m_d), m_rhs(m_d), m_z(m_d), m_conditionalMean(m_d) {}

    // Draws the vectors of rows [first, last); returns their squared error, summed rating by rating in row order
    // where the rows are short.
    double Draw(Eigen::Index first, Eigen::Index last) {
        double squaredError = 0.0;
        for (Eigen::Index row = first; row < last; ++row) {
            const std::size_t begin = m_step.rows.start[static_cast<std::size_t>(row)];
            const auto n = static_cast<Eigen::Index>(m_step.rows.Count(static_cast<std::size_t>(row)));
            if (n == 0) {
                m_step.self.col(row) = m_step.hyper.mean;
                KeepMean(m_step, row, m_step.hyper.mean);
            } else if (n <= 2) {
                squaredError += DrawFromFewRatings<D>(m_step, m_fewPrior, row, begin, n, m_z, m_conditionalMean);
                m_step.self.col(row) = m_z;
                KeepMean(m_step, row, m_conditionalMean);
            } else {
                DrawFromMany(row, begin, n, squaredError);
            }
        }
        return squaredError;
    }

private:
    using Vec = Eigen::Matrix<double, D, 1>;
    using Mat = Eigen::Matrix<double, D, D>;
    using VecF = Eigen::Matrix<float, D, 1>;
    static constexpr int kFixed = D == Eigen::Dynamic ? 0 : D;
    static constexpr int kPadded = static_cast<int>(PaddedRows(kFixed, 0));
    // Rows up to this long sum their precision a rating at a time; longer ones through a Gram matrix.
    static constexpr Eigen::Index kShortRow = 32;

    // The draw of a row of three ratings or more; adds its squared error to `squaredError`.
    void DrawFromMany(Eigen::Index row, std::size_t begin, Eigen::Index n, double& squaredError) {
        if (m_step.rowPriorMeans) {
            const Vec rowMean = m_step.rowPriorMeans->col(row);
            m_priorTerm.noalias() = m_prior.lazyProduct(rowMean);
        }
        const double targetSquares = Gather(begin, n);
        const bool shortRow = n <= kShortRow;
        if (shortRow) {
            SumShortRowPrecision(n);
        } else {
            SumGram(n);
            m_precision = m_prior + m_step.alpha * m_gram;
        }
        SolveAndDraw(row);
        if (shortRow) {
            AddShortRowError(n, squaredError);
        } else {
            squaredError += LongRowError(targetSquares);
        }
    }

    // Gathers the other side's vectors (bias replaced by 1) into the design matrix and the targets, and X t into
    // m_gathered; returns the sum of the squared targets. The vectors are converted by a plain loop: written as an
    // Eigen cast and assignment, GCC's block vectoriser made -O2 and -O3 compute other values than an unoptimised
    // build, so two builds of one source trained different models. X t is summed in a pass of its own, from the
    // stored single-precision vectors: summed in the gathering loop, GCC 12's vectoriser took some lanes of X straight
    // from the double values, without their rounding to float, whenever the code around it was inlined a little
    // differently.
    double Gather(std::size_t begin, Eigen::Index n) {
        const Eigen::Index length = kFixed > 0 ? kFixed : m_d; // d, known to the compiler where it can be
        double targetSquares = 0.0;
        m_gathered.setZero();
        for (Eigen::Index j = 0; j < n; ++j) {
            const std::uint32_t o = m_step.rows.index[begin + static_cast<std::size_t>(j)];
            if (j + kPrefetchAhead < n) {
                PrefetchColumn(m_step.other, m_step.rows.index[begin + static_cast<std::size_t>(j + kPrefetchAhead)]);
            }
            float* column = m_work.design.data() + j * m_stride;
            const double* from = m_step.other.data() + static_cast<Eigen::Index>(o) * m_d;
            column[0] = 1.0f;
            for (Eigen::Index f = 1; f < length; ++f) {
                column[f] = static_cast<float>(from[f]);
            }
            for (Eigen::Index f = length; f < m_stride; ++f) {
                column[f] = 0.0f;
            }
            const double t = m_step.rows.value[begin + static_cast<std::size_t>(j)] - m_step.mean - from[0];
            m_work.targets[static_cast<std::size_t>(j)] = t;
            targetSquares += t * t;
        }
        for (Eigen::Index j = 0; j < n; ++j) {
            m_gathered.noalias() +=
                m_work.targets[static_cast<std::size_t>(j)] *
                Eigen::Map<const VecF>(m_work.design.data() + j * m_stride, m_d).template cast<double>();
        }
        return targetSquares;
    }

    // The Gram matrix X X^T of a long row, summed in single precision, which halves its cost and stays far below the
    // noise of a draw.
    void SumGram(Eigen::Index n) {
        if constexpr (kFixed > 0) {
            // A known dimension: the lower triangle in register blocks of whole packets, then mirrored.
            GramLowerInPackets<kPadded / 4>(m_work.design.data(), static_cast<std::size_t>(n),
                                            m_work.gramPackets.data());
            for (Eigen::Index b = 0; b < m_d; ++b) {
                for (Eigen::Index i = b; i < m_d; ++i) {
                    m_gram(i, b) = m_gram(b, i) = m_work.gramPackets[static_cast<std::size_t>(b * m_stride + i)];
                }
            }
        } else {
            m_work.gramBlock.setZero();
            m_work.gramBlock.template selfadjointView<Eigen::Lower>().rankUpdate(m_work.design.leftCols(n));
            m_gram = m_work.gramBlock.template cast<double>();
            m_gram.template triangularView<Eigen::StrictlyUpper>() = m_gram.transpose();
        }
    }

    // Short rows, most rows of sparse data: prior + alpha X X^T on the triangle the factorisation reads
    // (a[i * d + k], k <= i), summed a rating at a time in double precision; no Gram matrix at all.
    void SumShortRowPrecision(Eigen::Index n) {
        const int m = kFixed > 0 ? kFixed : static_cast<int>(m_d);
        const double* p = m_prior.data();
        double* a = m_precision.data();
        for (int i = 0; i < m; ++i) {
            for (int k = 0; k <= i; ++k) {
                a[i * m + k] = p[i * m + k];
            }
        }
        for (Eigen::Index j = 0; j < n; ++j) {
            const float* x = m_work.design.data() + j * m_stride;
            for (int i = 0; i < m; ++i) {
                const double xi = m_step.alpha * x[i];
                for (int k = 0; k <= i; ++k) {
                    a[i * m + k] += xi * static_cast<double>(x[k]);
                }
            }
        }
    }

    // Factorises the precision, draws the row's vector (or takes its conditional mean) and keeps what the step keeps.
    void SolveAndDraw(Eigen::Index row) {
        const int dd = static_cast<int>(m_d);
        CholeskyInPlace<kFixed>(m_precision.data(), dd);
        m_rhs = m_priorTerm + m_step.alpha * m_gathered;
        SolveLower<kFixed>(m_precision.data(), dd, m_rhs.data());
        if (m_step.draw) {
            CRandom random = RowRandom(m_step.seed, static_cast<std::uint64_t>(row));
            for (Eigen::Index f = 0; f < m_d; ++f) {
                m_z(f) = m_rhs(f) + random.Normal();
            }
        } else {
            m_z = m_rhs;
        }
        SolveUpper<kFixed>(m_precision.data(), dd, m_z.data());
        m_step.self.col(row) = m_z;
        if (m_step.means) {
            m_conditionalMean = m_rhs;
            SolveUpper<kFixed>(m_precision.data(), dd, m_conditionalMean.data());
            KeepMean(m_step, row, m_conditionalMean);
        }
    }

    // Adds the squared error of a short row's draw to `squaredError` rating by rating: fewer operations than the
    // quadratic form of LongRowError when the row is shorter than the Gram matrix is wide.
    void AddShortRowError(Eigen::Index n, double& squaredError) const {
        for (Eigen::Index j = 0; j < n; ++j) {
            const Eigen::Map<const VecF> x(m_work.design.data() + j * m_stride, m_d);
            const double error = m_work.targets[static_cast<std::size_t>(j)] - x.template cast<double>().dot(m_z);
            squaredError += error * error;
        }
    }

    // Squared error of a long row's draw: sum t^2 - 2 z.Xt + z' X X^T z, without another pass over the row.
    double LongRowError(double targetSquares) const {
        const double quadratic = m_z.dot(m_gram.lazyProduct(m_z));
        return std::max(0.0, targetSquares - 2.0 * m_z.dot(m_gathered) + quadratic);
    }

    const SideStep& m_step;
    const FewRatingsPrior<D>& m_fewPrior;
    RowWorkspace& m_work;
    const Eigen::Index m_d;
    const Eigen::Index m_stride;
    const Mat m_prior;
    Vec m_priorTerm;
    Mat m_gram, m_precision;
    Vec m_gathered, m_rhs, m_z, m_conditionalMean;
};

} // namespace

std::vector<RowWorkspace> MakeRowWorkspaces(unsigned threads, Eigen::Index d, std::size_t longest) {
    const int fixed = d == 6 || d == 11 || d == 21 ? static_cast<int>(d) : 0;
    std::vector<RowWorkspace> workspaces(threads);
    for (RowWorkspace& work : workspaces) {
        work.design.resize(PaddedRows(fixed, d), static_cast<Eigen::Index>(longest));
        work.gramBlock.resize(d, d);
        work.targets.resize(longest);
        work.gramPackets.resize(static_cast<std::size_t>(PaddedRows(fixed, d) * PaddedRows(fixed, d)));
    }
    return workspaces;
}

double DrawRows(CThreadPool& pool, const SideStep& step, std::vector<RowWorkspace>& workspaces,
                const std::function<void()>& alongside) {
    const auto count = static_cast<std::size_t>(step.self.cols());
    const std::size_t chunks = (count + kRowsPerChunk - 1) / kRowsPerChunk;
    const std::size_t extra = alongside ? 1 : 0;
    std::vector<double> chunkError(chunks, 0.0);
    const auto run = [&]<int D>() {
        const FewRatingsPrior<D> fewPrior(step.hyper.precision);
        pool.Run(chunks + extra, [&](std::size_t task, unsigned thread) {
            if (task < extra) {
                alongside();
                return;
            }
            const std::size_t chunk = task - extra;
            const auto first = static_cast<Eigen::Index>(chunk * kRowsPerChunk);
            const auto last = static_cast<Eigen::Index>(std::min(count, (chunk + 1) * kRowsPerChunk));
            chunkError[chunk] = CRowDraws<D>(step, fewPrior, workspaces[thread]).Draw(first, last);
        });
    };
    // The common ranks get loops of fixed length, which the compiler unrolls; any other rank works as well.
    switch (step.other.rows()) {
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
    for (const double error : chunkError) {
        total += error;
    }
    return total;
}

} // namespace quillory::model
